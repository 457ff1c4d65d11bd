#pragma once
// TMapCalibration: the calibration points of one trainer model, kept in the registry under a
// key named after the model version.
#include "framework/Component.h"
#include "platform/Registry.h"

#include <cstdint>
#include <string>

class TMapCalibration : public TComponent {
public:
    explicit TMapCalibration(TComponent *AOwner);

    std::string ClassName() const override { return "TMapCalibration"; }
    const TPropList &Properties() const override;
    // From another map calibration every property but Name is copied.
    void Assign(const TPersistent *Source) override;
    int32_t CalibrationP1() const { return FCalibrationP1; }
    virtual void SetCalibrationP1(int32_t Value);
    int32_t CalibrationP2() const { return FCalibrationP2; }
    virtual void SetCalibrationP2(int32_t Value);
    int32_t CalibrationP3() const { return FCalibrationP3; }
    virtual void SetCalibrationP3(int32_t Value);
    int32_t Speed1() const { return FSpeed1; }
    virtual void SetSpeed1(int32_t Value);
    int32_t Speed2() const { return FSpeed2; }
    virtual void SetSpeed2(int32_t Value);
    int32_t Speed3() const { return FSpeed3; }
    virtual void SetSpeed3(int32_t Value);
    int32_t Resist1() const { return FResist1; }
    virtual void SetResist1(int32_t Value);
    int32_t Resist2() const { return FResist2; }
    void SetResist2(int32_t Value) { FResist2 = Value; }
    int32_t Resist3() const { return FResist3; }
    virtual void SetResist3(int32_t Value);
    int32_t P1MaxValue() const { return FP1MaxValue; }
    virtual void SetP1MaxValue(int32_t Value);
    int32_t P2MaxValue() const { return FP2MaxValue; }
    virtual void SetP2MaxValue(int32_t Value);
    int32_t P3MaxValue() const { return FP3MaxValue; }
    virtual void SetP3MaxValue(int32_t Value);
    int32_t P1MinValue() const { return FP1MinValue; }
    virtual void SetP1MinValue(int32_t Value);
    int32_t P2MinValue() const { return FP2MinValue; }
    virtual void SetP2MinValue(int32_t Value);
    int32_t P3MinValue() const { return FP3MinValue; }
    virtual void SetP3MinValue(int32_t Value);
    int32_t CalibrationPA() const { return FCalibrationPA; }
    virtual void SetCalibrationPA(int32_t Value);
    int32_t CalibrationPB() const { return FCalibrationPB; }
    virtual void SetCalibrationPB(int32_t Value);
    int32_t ResistA() const { return FResistA; }
    virtual void SetResistA(int32_t Value);
    int32_t ResistB() const { return FResistB; }
    virtual void SetResistB(int32_t Value);
    int32_t SpeedA() const { return FSpeedA; }
    virtual void SetSpeedA(int32_t Value);
    int32_t SpeedB() const { return FSpeedB; }
    virtual void SetSpeedB(int32_t Value);
    int32_t PaMaxValue() const { return FPaMaxValue; }
    virtual void SetPaMaxValue(int32_t Value);
    int32_t PaMinValue() const { return FPaMinValue; }
    virtual void SetPaMinValue(int32_t Value);
    int32_t PbMaxValue() const { return FPbMaxValue; }
    virtual void SetPbMaxValue(int32_t Value);
    int32_t PbMinValue() const { return FPbMinValue; }
    virtual void SetPbMinValue(int32_t Value);
    bool UseMapCalibration() const { return FUseMapCalibration; }
    virtual void SetUseMapCalibration(bool Value);
    double TarvoVersion() const { return FTarvoVersion; }
    virtual void SetTarvoVersion(double Value);
    // Never loaded or saved.
    bool UseConsoleValues() const { return FUseConsoleValues; }
    virtual void SetUseConsoleValues(bool Value);

    // Loads from / saves to AddBackslash(BasePath) + GetKeyDeviceName(TarvoVersion) under Root.
    virtual bool LoadSettings(HKEY Root, const std::string &BasePath);
    virtual bool SaveSettings(HKEY Root, const std::string &BasePath);

    // "Tarvo<version>" for the known model versions; Exception otherwise.
    static std::string GetKeyDeviceName(double Version);
    // Name + "_" when WithPrefix (the older value layout), otherwise "".
    std::string ValueNamePrefix(bool WithPrefix) const;

protected:
    bool DoLoadSettings(HKEY Root, const std::string &BasePath);
    bool DoSaveSettings(HKEY Root, const std::string &BasePath);
    // Moves values of the older, name-prefixed layout in the version 5 key to the current one.
    void UpdateExistingOldKeysOfTarvo5(HKEY Root, const std::string &BasePath);

private:
    int32_t FCalibrationP1 = 0;
    int32_t FCalibrationP2 = 0;
    int32_t FCalibrationP3 = 0;
    int32_t FSpeed1 = 0;
    int32_t FSpeed2 = 0;
    int32_t FSpeed3 = 0;
    int32_t FResist1 = 0;
    int32_t FResist2 = 0;
    int32_t FResist3 = 0;
    int32_t FP1MaxValue = 0;
    int32_t FP2MaxValue = 0;
    int32_t FP3MaxValue = 0;
    int32_t FP1MinValue = 0;
    int32_t FP2MinValue = 0;
    int32_t FP3MinValue = 0;
    int32_t FCalibrationPA = 0;
    int32_t FCalibrationPB = 0;
    int32_t FResistA = 0;
    int32_t FResistB = 0;
    int32_t FSpeedA = 0;
    int32_t FSpeedB = 0;
    int32_t FPaMaxValue = 0;
    int32_t FPaMinValue = 0;
    int32_t FPbMaxValue = 0;
    int32_t FPbMinValue = 0;
    bool FUseMapCalibration = false;
    double FTarvoVersion = 0.0;
    bool FUseConsoleValues = false;
};
