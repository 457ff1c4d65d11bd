#include "maps/ResistanceMap.h"

#include "framework/Exception.h"
#include "framework/Filer.h"
#include "framework/SysUtils.h"
#include "maps/EMZel.h"
#include "maps/MapCalibration.h"
#include "maps/Tokens.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace {

const char kTab = '\t';

// Streams naming the class must find it.
const bool ResistanceMapRegistered = [] {
    RegisterClass("TResistanceMap", [] { return new TResistanceMap(nullptr); });
    return true;
}();

// Nearest integer, ties to even, held to the 32-bit range: cells come from outside and may
// hold any magnitude.
int32_t RoundToInt32(double Value)
{
    if (std::isnan(Value))
        return 0;
    double r = std::nearbyint(Value);
    if (r >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (r <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(r);
}

double CellToDouble(const std::string &Cell)
{
    long double v = StrToFloat(Cell);
    // Out-of-range text would otherwise become inf and poison every later computation.
    if (!(std::fabs(v) <= static_cast<long double>(DBL_MAX)))
        throw EConvertError(Format("'%s' is not a valid floating point value", {Cell}));
    return static_cast<double>(v);
}

} // namespace

double Interpolate(double x, double x1, double x2, double y1, double y2)
{
    if (x1 > x2 || y1 > y2)
        throw Exception("x1>x2 or y1>y2");
    if (x1 == x2)
        return y1;
    return y1 + (x - x1) / (x2 - x1) * (y2 - y1);
}

TResistanceMap::TResistanceMap(TComponent *AOwner)
    : TComponent(AOwner), FStrings(std::make_unique<TStringList>())
{
    FStrings->OnChanging = [this](TObject *) { Changing(); };
    FStrings->OnChange = [this](TObject *) { Change(); };
}

TResistanceMap::~TResistanceMap()
{
    // Freeing the list must not reach handlers of an object that is going away.
    OnChange = nullptr;
    OnChanging = nullptr;
    FStrings->OnChange = nullptr;
    FStrings->OnChanging = nullptr;
    FStrings.reset();
}

const TPropList &TResistanceMap::Properties() const
{
    static const TPropList props = [this] {
        // The text is streamed as "StrData" (DefineProperties), so the list itself is not.
        TPropInfo strings = ObjProp<TResistanceMap>("Strings", "TStrings", &TResistanceMap::Strings);
        strings.Stored = false;
        return InheritProps(TComponent::Properties(),
                            {strings,
                             FloatProp("TarvoVersion", "Double", &TResistanceMap::TarvoVersion,
                                       &TResistanceMap::SetTarvoVersion),
                             FloatProp("ResistanceMapAdapter", "Double", &TResistanceMap::ResistanceMapAdapter,
                                       &TResistanceMap::SetResistanceMapAdapter),
                             IntProp("ResistanceLatency", "Integer", &TResistanceMap::ResistanceLatency,
                                     &TResistanceMap::SetResistanceLatency),
                             IntProp("MinPower", "Integer", &TResistanceMap::MinPower, &TResistanceMap::SetMinPower),
                             IntProp("MaxPower", "Integer", &TResistanceMap::MaxPower, &TResistanceMap::SetMaxPower)});
    }();
    return props;
}

void TResistanceMap::SetStrings(const TStrings *Value)
{
    FStrings->Assign(Value);
}

void TResistanceMap::SetTarvoVersion(double Value)
{
    if (FTarvoVersion != Value)
        FTarvoVersion = Value;
}

void TResistanceMap::SetResistanceMapAdapter(double Value)
{
    if (FResistanceMapAdapter != Value)
        FResistanceMapAdapter = (Value == 0.0) ? 1.0 : Value;
}

void TResistanceMap::SetResistanceLatency(int32_t Value)
{
    if (FResistanceLatency != Value)
        FResistanceLatency = Value;
}

void TResistanceMap::SetMinPower(int32_t Value)
{
    if (FMinPower != Value)
        FMinPower = Value;
}

void TResistanceMap::SetMaxPower(int32_t Value)
{
    if (FMaxPower != Value)
        FMaxPower = Value;
}

void TResistanceMap::SetMapCalibration(TMapCalibration *Value)
{
    if (FMapCalibration == Value)
        return;
    if (FMapCalibration)
        FMapCalibration->RemoveFreeNotification(this);
    FMapCalibration = Value;
    if (FMapCalibration)
        FMapCalibration->FreeNotification(this);
}

void TResistanceMap::Notification(TComponent *AComponent, TOperation Operation)
{
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && FMapCalibration && AComponent == FMapCalibration)
        FMapCalibration = nullptr;
}

void TResistanceMap::CopyFrom(const TResistanceMap &Source)
{
    FStrings->Assign(Source.Strings());
    SetTarvoVersion(Source.TarvoVersion());
    SetResistanceMapAdapter(Source.ResistanceMapAdapter());
    SetResistanceLatency(Source.ResistanceLatency());
    SetMinPower(Source.MinPower());
    SetMaxPower(Source.MaxPower());
    SetMapCalibration(Source.MapCalibration());
}

void TResistanceMap::Assign(const TPersistent *Source)
{
    if (const auto *list = dynamic_cast<const TStrings *>(Source)) {
        FStrings->Assign(list);
        return;
    }
    if (const auto *map = dynamic_cast<const TResistanceMap *>(Source)) {
        if (map != this)
            CopyFrom(*map);
        return;
    }
    TComponent::Assign(Source);
}

void TResistanceMap::AssignTo(TPersistent *Dest) const
{
    if (auto *list = dynamic_cast<TStrings *>(Dest)) {
        list->Assign(FStrings.get());
        return;
    }
    if (auto *map = dynamic_cast<TResistanceMap *>(Dest)) {
        if (map != this)
            map->CopyFrom(*this);
        return;
    }
    TComponent::AssignTo(Dest);
}

void TResistanceMap::DefineProperties(TFiler &Filer)
{
    TComponent::DefineProperties(Filer);
    bool hasData = false;
    if (FStrings->Count() > 0) {
        const auto *ancestor = dynamic_cast<const TResistanceMap *>(Filer.Ancestor());
        if (!ancestor) {
            hasData = true;
        } else {
            const TStringList *other = ancestor->Strings();
            if (other->Count() != FStrings->Count()) {
                hasData = true;
            } else {
                for (int i = 0; i < FStrings->Count() && !hasData; ++i)
                    hasData = !SameText(other->Get(i), FStrings->Get(i));
            }
        }
    }
    Filer.DefineProperty(
        "StrData",
        [this](TReader &Reader) {
            FStrings->Clear();
            Reader.ReadListBegin();
            while (!Reader.EndOfList())
                FStrings->Add(Reader.ReadString());
            Reader.ReadListEnd();
        },
        [this](TWriter &Writer) {
            Writer.WriteListBegin();
            for (int i = 0; i < FStrings->Count(); ++i)
                Writer.WriteString(FStrings->Get(i));
            Writer.WriteListEnd();
        },
        hasData);
}

void TResistanceMap::Changing()
{
    if (!IsLoading() && OnChanging)
        OnChanging(this);
}

void TResistanceMap::Change()
{
    if (!IsLoading() && OnChange)
        OnChange(this);
}

void TResistanceMap::DoResistanceMapLoaded()
{
    if (OnResistanceMapLoaded)
        OnResistanceMapLoaded(this);
}

void TResistanceMap::LoadMap()
{
    FTable.clear();
    FColumnCount = 0;
    FColumnCount = CountFields(FStrings->Get(0), kTab);

    const int lineCount = FStrings->Count();
    // The trainer's map text ends with an empty line that holds no row; a text that ends
    // with a filled line keeps that line as the last row instead of losing it.
    const int rowCount = FStrings->Get(lineCount - 1).empty() ? lineCount - 1 : lineCount;
    FTable.assign(static_cast<size_t>(rowCount), std::vector<double>(static_cast<size_t>(FColumnCount), 0.0));

    const char separator = DecimalSeparator();
    try {
        for (int r = 0; r < rowCount; ++r) {
            const std::string line = FStrings->Get(r);
            for (int c = 0; c < FColumnCount; ++c) {
                std::string cell = GetField(line, kTab, c);
                if (cell.empty() || cell == " ")
                    continue;
                if (separator != ',')
                    cell = ReplaceChar(',', separator, cell);
                FTable[static_cast<size_t>(r)][static_cast<size_t>(c)] = CellToDouble(cell);
            }
        }
        DoResistanceMapLoaded();
    } catch (const std::exception &e) {
        throw EMZel(4, std::string("Please, contact the Ulmora support\r\n\r\n") + e.what());
    }
}

void TResistanceMap::ApplyAdapter()
{
    if (FTarvoVersion < 4.0)
        return;
    if (FResistanceMapAdapter == 0.0)
        FResistanceMapAdapter = 1.0;
    for (size_t r = 1; r < FTable.size(); ++r)
        for (size_t c = 1; c < FTable[r].size(); ++c)
            FTable[r][c] = std::nearbyint(FTable[r][c] * FResistanceMapAdapter);
}

void TResistanceMap::ComputePowerLimits()
{
    FMinPower = 1000000;
    FMaxPower = 0;
    if (FTarvoVersion < 4.0)
        return;
    for (int c = 1; c < FColumnCount; ++c) {
        for (size_t r = 1; r < FTable.size(); ++r) {
            const int32_t p = RoundToInt32(FTable[r][static_cast<size_t>(c)]);
            if (p > FMaxPower)
                SetMaxPower(p);
            if (p > 0 && p < FMinPower)
                SetMinPower(p);
        }
    }
}

uint8_t TResistanceMap::LimitPower(int32_t &OutPower, int32_t Target, double Speed, TUnitMeasure Unit)
{
    if (Unit == umMiles)
        Speed = Speed * 1.609;
    if (Speed == 0.0)
        return 0;
    const int rowCount = static_cast<int>(FTable.size());
    if (rowCount < 2 || FColumnCount < 2)
        return 0;
    const std::vector<double> &speeds = FTable[0];

    const int lastColumn = FColumnCount - 1;
    int low = 1;
    int high = 1;
    for (int c = lastColumn; c >= 1; --c) {
        if (speeds[static_cast<size_t>(c)] <= Speed) {
            low = c;
            high = (Speed == speeds[static_cast<size_t>(c)] || c == lastColumn) ? c : c + 1;
            break;
        }
    }

    int start = rowCount - 1;
    while (start >= 1 && FTable[static_cast<size_t>(start)][static_cast<size_t>(high)] == 0.0)
        --start;
    if (start < 1)
        return 0;

    auto powerAt = [&](int r) {
        const std::vector<double> &row = FTable[static_cast<size_t>(r)];
        return Interpolate(Speed, speeds[static_cast<size_t>(low)], speeds[static_cast<size_t>(high)],
                           row[static_cast<size_t>(low)], row[static_cast<size_t>(high)]);
    };

    const double target = static_cast<double>(Target);
    int r = start;
    double d = powerAt(r);
    while (!(target > d) && r != 1) {
        --r;
        d = powerAt(r);
    }
    if (r == start) {
        OutPower = RoundToInt32(d);
        return 1;
    }
    if (target > d) {
        OutPower = Target;
        return 3;
    }
    OutPower = RoundToInt32(powerAt(1));
    return 2;
}
