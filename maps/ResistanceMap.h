#pragma once
// TResistanceMap: the power table of one trainer model. The text form (one line per row,
// tab-separated cells) lives in Strings; LoadMap parses it into Table.
#include "framework/Component.h"
#include "framework/Strings.h"
#include "framework/UnitMeasure.h"

#include <cstdint>
#include <memory>
#include <vector>

class TMapCalibration;

// Rows of power cells; row 0 holds the speed of each column, column 0 the level of each row.
using TResistanceArray = std::vector<std::vector<double>>;

// Linear interpolation between (x1, y1) and (x2, y2), not clamped to [x1, x2].
// Raises Exception "x1>x2 or y1>y2" when either pair is decreasing.
double Interpolate(double x, double x1, double x2, double y1, double y2);

class TResistanceMap : public TComponent {
public:
    explicit TResistanceMap(TComponent *AOwner);
    ~TResistanceMap() override;

    std::string ClassName() const override { return "TResistanceMap"; }
    const TPropList &Properties() const override;
    void Assign(const TPersistent *Source) override;
    void DefineProperties(TFiler &Filer) override;
    void Notification(TComponent *AComponent, TOperation Operation) override;

    TStringList *Strings() const { return FStrings.get(); }
    void SetStrings(const TStrings *Value);
    double TarvoVersion() const { return FTarvoVersion; }
    virtual void SetTarvoVersion(double Value);
    double ResistanceMapAdapter() const { return FResistanceMapAdapter; }
    // 0 is stored as 1.0.
    virtual void SetResistanceMapAdapter(double Value);
    int32_t ResistanceLatency() const { return FResistanceLatency; }
    virtual void SetResistanceLatency(int32_t Value);
    int32_t MinPower() const { return FMinPower; }
    virtual void SetMinPower(int32_t Value);
    int32_t MaxPower() const { return FMaxPower; }
    virtual void SetMaxPower(int32_t Value);
    TMapCalibration *MapCalibration() const { return FMapCalibration; }
    void SetMapCalibration(TMapCalibration *Value);

    TNotifyEvent OnResistanceMapLoaded;
    // Before and after each change of Strings, except while loading from a stream.
    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;

    int32_t ColumnCount() const { return FColumnCount; }
    const TResistanceArray &Table() const { return FTable; }

    virtual void DoResistanceMapLoaded();
    // Parses Strings into Table. A last line that is empty is not a row; a last line with
    // text is. Empty Strings: EStringListError. A cell that is not a number: EMZel code 4.
    virtual void LoadMap();
    // Scales every power cell by ResistanceMapAdapter (version 4.0 and up).
    virtual void ApplyAdapter();
    // MinPower/MaxPower from the positive power cells (version 4.0 and up).
    virtual void ComputePowerLimits();
    // Clamps Target to what the trainer gives at Speed. Status 1: the highest usable level's
    // power (OutPower set to it); 2: at or below level 1 (OutPower = level 1's power); 3:
    // between two levels (OutPower = Target); 0: no result, OutPower untouched (speed 0, or a
    // table without a power row, without a speed column or without any value at the speed).
    virtual uint8_t LimitPower(int32_t &OutPower, int32_t Target, double Speed, TUnitMeasure Unit);

protected:
    void AssignTo(TPersistent *Dest) const override;
    virtual void Change();
    virtual void Changing();

private:
    void CopyFrom(const TResistanceMap &Source);

    std::unique_ptr<TStringList> FStrings;
    double FTarvoVersion = 4.0;
    double FResistanceMapAdapter = 1.0;
    int32_t FResistanceLatency = 0;
    int32_t FMinPower = 0;
    int32_t FMaxPower = 0;
    TMapCalibration *FMapCalibration = nullptr;
    int32_t FColumnCount = 0;
    TResistanceArray FTable;
};
