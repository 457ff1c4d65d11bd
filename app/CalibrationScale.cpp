#include "app/CalibrationWindow.h"

#include "framework/SysUtils.h"

namespace {

// 8.89 x pi: the wheel circumference in millimetres over this gives the trainer's diameter value.
constexpr long double CircumferencePerDiameter = 27.928758690413261891L;
constexpr double ScaleTop = 50.0;

// Where on the scale a speed falls, for a mark `MarkWidth` wide centred on it. Nothing clamps:
// speeds outside 0 to 50 land beyond the bar's ends.
int ScaleLeft(const QFrame *Bar, double Speed, int MarkWidth)
{
    return static_cast<int>(Round(static_cast<long double>(Bar->width()) * Speed / ScaleTop + Bar->x() -
                                  MarkWidth / 2.0L));
}

} // namespace

void TForm1::set_range(double X)
{
    Shape2->move(ScaleLeft(Shape1, X, Shape2->width()), Shape1->y());
}

void TForm1::set_arrow(double X)
{
    VrArrow1->move(ScaleLeft(Shape1, X, VrArrow1->width()), VrArrow1->y());
}

int64_t TForm1::CircumferenceToDiameter(int64_t Circumference)
{
    return Round(static_cast<long double>(Circumference) / CircumferencePerDiameter);
}
