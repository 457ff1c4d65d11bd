#include "device/TarvoDeviceAntP.h"

#include "device/MivoAverage.h"
#include "maps/MapCalibration.h"
#include "maps/ResistanceMap.h"

std::atomic<TAntDevice *> TTarvoDeviceAntP::FSelectedAntDevice{nullptr};

TTarvoDeviceAntP::TTarvoDeviceAntP(TComponent *AOwner) : TZelCustomDevice(AOwner)
{
    SetAntComControl(new TAntComControl(this));
    FHeartEnabled = false;
    FHeartSampleCount = 0;
    FHeartRateSum = 0;
    FHeartPresent = false;
    FChannelTrainer = nullptr;
    FChannelHR = nullptr;
    FChannelConsole = nullptr;
    FVirtualSpeedEnabled = false;
    FResistanceReducer = 1.0;
    FTarvoResistance = 0;
    FInitialResistance = 0;
    FTarvoElevation = 0;
    FHighPowerReduceEnable = false;
    FUnitType = -1.0;
    FTarvoVersion = 0.0;
    FResistanceLatency = 0;
    FCurrentElevation = 0;
    FTrainerSpeed = 0;
    FResistanceMap = nullptr;
    SetSimulationMode(false);
    FHighPowerReduceStartSpeed = 0;
    FHighPowerReduceCoefficient = 0.0;
    FHighPowerReduceCoefficientMinimum = 0.0;
    FMapCalibration = nullptr;
    FConsoleType = 0;
    FDeviceNumber = 0;
    FTrainerVersion = 0;
    FHRDeviceNumber = 0;
    FEnableHr = true;
    FConsoleEnable = true;
    FConsoleDeviceNumber = 0;
    SetTimerStatsInterval(1000);
    FHeartRateAverage = std::make_unique<TMivoAverage>();
    FCadenceAverage = std::make_unique<TMivoAverage>();
    FSpeedAverage = std::make_unique<TMivoAverage>();
    FHrArrayLength = 5;
    FCadenceArrayLength = 1;
    FSpeedArrayLength = 3;
    FHeartRateAverage->Resize(FHrArrayLength);
    FCadenceAverage->Resize(FCadenceArrayLength);
    FSpeedAverage->Resize(FSpeedArrayLength);
    FTolerance = 2.0;
    FCalibration = 1.0;
    FResistanceMode = rmAsPercent;
    FChannelConsoleConnectedOnEventRx = false;
    FChannelTrainerConnectedOnEventRx = false;
    FChannelHRConnectedOnEventRx = false;
    FTrainerConnectionTimeOut = 30000;
    FMaxIncrementStepPower = 0;
    FCalibrationOffset = 0;
    FUseResistanceMapFromTrainer = true;
    FHighPowerReduceArmed = true;
    FTrainerCalibrationRun = MakeTrainerCalibrationRun();
}

TTarvoDeviceAntP::~TTarvoDeviceAntP()
{
    Destroying();
    // No tick may reach the statistics once the averages and the controller are gone.
    SetTimerStatsEnabled(false);
    FTrainerCalibrationRun->Shutdown();
    delete FAntComControl;
    FAntComControl = nullptr;
    FSpeedAverage.reset();
    FCadenceAverage.reset();
    FHeartRateAverage.reset();
}

namespace {

// A reference to another component: read through its getter, never streamed.
template <class C, class G>
TPropInfo RefProp(std::string name, std::string typeName, G get)
{
    TPropInfo p = ObjProp<C>(std::move(name), std::move(typeName), get);
    p.Stored = false;
    return p;
}

} // namespace

const TPropList &TTarvoDeviceAntP::Properties() const
{
    using D = TTarvoDeviceAntP;
    static TPropInfo virtualDistance = [] {
        TPropInfo p;
        p.Name = "VirtualDistance";
        p.Kind = TPropKind::Float;
        p.TypeName = "Double";
        p.Stored = false; // read only
        p.GetFloat = [](const TPersistent &o) {
            return static_cast<long double>(static_cast<const D &>(o).VirtualDistance());
        };
        return p;
    }();
    // Three declared defaults differ from the constructed values: a saved HeartEnabled true,
    // CadenceArrayLength 10 or HrArrayLength 3 is not written and loads back as false, 1, 5.
    static const TPropList props = InheritProps(
        TZelCustomDevice::Properties(),
        {
            FloatProp<D, double>("Calibration", "Double", &D::Calibration, &D::SetCalibration),
            BoolProp<D>("HeartEnabled", &D::HeartEnabled, &D::SetHeartEnabled, true),
            RefProp<D>("AntComControl", "TAntComControl", &D::AntComControl),
            BoolProp<D>("VirtualSpeedEnabled", &D::VirtualSpeedEnabled, &D::SetVirtualSpeedEnabled, false),
            FloatProp<D, double>("ResistanceReducer", "Double", &D::ResistanceReducer, &D::SetResistanceReducer),
            IntProp<D, int32_t>("TarvoResistance", "Integer", &D::TarvoResistance, &D::SetTarvoResistance, 0),
            IntProp<D, int32_t>("InitialResistance", "Integer", &D::InitialResistance, &D::SetInitialResistance, 0),
            IntProp<D, int32_t>("TarvoElevation", "Integer", &D::TarvoElevation, &D::SetTarvoElevation, 0),
            BoolProp<D>("HighPowerReduceEnable", &D::HighPowerReduceEnable, &D::SetHighPowerReduceEnable, false),
            FloatProp<D, double>("UnitType", "Double", &D::UnitType, &D::SetUnitType),
            FloatProp<D, double>("TarvoVersion", "Double", &D::TarvoVersion, &D::SetTarvoVersion),
            IntProp<D, int32_t>("ResistanceLatency", "Integer", &D::ResistanceLatency, &D::SetResistanceLatency, 0),
            IntProp<D, int32_t>("CurrentElevation", "Integer", &D::CurrentElevation, &D::SetCurrentElevation, 0),
            RefProp<D>("ResistanceMap", "TResistanceMap", &D::ResistanceMap),
            FloatProp<D, double>("VirtualSpeed", "Double", &D::VirtualSpeed, &D::SetVirtualSpeed),
            IntProp<D, int32_t>("HighPowerReduceStartSpeed", "Integer", &D::HighPowerReduceStartSpeed,
                                &D::SetHighPowerReduceStartSpeed, 0),
            FloatProp<D, double>("HighPowerReduceCoefficient", "Double", &D::HighPowerReduceCoefficient,
                                 &D::SetHighPowerReduceCoefficient),
            FloatProp<D, double>("HighPowerReduceCoefficientMinimum", "Double",
                                 &D::HighPowerReduceCoefficientMinimum, &D::SetHighPowerReduceCoefficientMinimum),
            RefProp<D>("MapCalibration", "TMapCalibration", &D::MapCalibration),
            FloatProp<D, double>("Diameter", "Double", &D::Diameter, &D::SetDiameter),
            IntProp<D, int32_t>("EvenPerTurn", "Integer", &D::EvenPerTurn, &D::SetEvenPerTurn),
            IntProp<D, uint16_t>("ConsoleType", "Word", &D::ConsoleType, &D::SetConsoleType, 0),
            IntProp<D, uint16_t>("DeviceNumber", "Word", &D::DeviceNumber, &D::SetDeviceNumber, 0),
            IntProp<D, int32_t>("TrainerVersion", "Integer", &D::TrainerVersion, &D::SetTrainerVersion, 0),
            IntProp<D, uint16_t>("HRDeviceNumber", "Word", &D::HRDeviceNumber, &D::SetHRDeviceNumber, 0),
            BoolProp<D>("EnableHr", &D::EnableHr, &D::SetEnableHr, true),
            BoolProp<D>("ConsoleEnable", &D::ConsoleEnable, &D::SetConsoleEnable, true),
            IntProp<D, uint16_t>("ConsoleDeviceNumber", "Word", &D::ConsoleDeviceNumber, &D::SetConsoleDeviceNumber,
                                 0),
            IntProp<D, int32_t>("CadenceArrayLength", "Integer", &D::CadenceArrayLength, &D::SetCadenceArrayLength,
                                10),
            IntProp<D, int32_t>("SpeedArrayLength", "Integer", &D::SpeedArrayLength, &D::SetSpeedArrayLength, 3),
            IntProp<D, int32_t>("HrArrayLength", "Integer", &D::HrArrayLength, &D::SetHrArrayLength, 3),
            virtualDistance,
            FloatProp<D, double>("Tolerance", "Double", &D::Tolerance, &D::SetTolerance),
            FloatProp<D, double>("VirtualSpeedAttenuation", "Double", &D::VirtualSpeedAttenuation,
                                 &D::SetVirtualSpeedAttenuation),
            EnumProp<D, TResistanceMode>("ResistanceMode", "TResistanceMode",
                                         {"rmAntUlmora", "rmAsWatts", "rmAsPercent", "rmAsSlope", "rmNotDefined"},
                                         &D::ResistanceMode, &D::SetResistanceMode),
            BoolProp<D>("ChannelConsoleConnectedOnEventRx", &D::ChannelConsoleConnectedOnEventRx,
                        &D::SetChannelConsoleConnectedOnEventRx, false),
            BoolProp<D>("ChannelTrainerConnectedOnEventRx", &D::ChannelTrainerConnectedOnEventRx,
                        &D::SetChannelTrainerConnectedOnEventRx, false),
            BoolProp<D>("ChannelHRConnectedOnEventRx", &D::ChannelHRConnectedOnEventRx,
                        &D::SetChannelHRConnectedOnEventRx, false),
            IntProp<D, int32_t>("TrainerConnectionTimeOut", "Integer", &D::TrainerConnectionTimeOut,
                                &D::SetTrainerConnectionTimeOut, 30000),
            IntProp<D, int32_t>("MaxIncrementStepPower", "Integer", &D::MaxIncrementStepPower,
                                &D::SetMaxIncrementStepPower, 0),
            IntProp<D, int32_t>("CalibrationOffset", "Integer", &D::CalibrationOffset, &D::SetCalibrationOffset),
            BoolProp<D>("UseResistanceMapFromTrainer", &D::UseResistanceMapFromTrainer,
                        &D::SetUseResistanceMapFromTrainer, true),
        });
    return props;
}

void TTarvoDeviceAntP::Notification(TComponent *AComponent, TOperation Operation)
{
    TZelCustomDevice::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FAntComControl)
        FAntComControl = nullptr;
}

void TTarvoDeviceAntP::SetAntComControl(TAntComControl *Value)
{
    if (Value == FAntComControl)
        return;
    FAntComControl = Value;
    if (Value)
        Value->FreeNotification(this);
}

void TTarvoDeviceAntP::MarkConnected()
{
    FLiveConnected.store(true, std::memory_order_release);
    DoConnected();
}

void TTarvoDeviceAntP::MarkDisconnected()
{
    FLiveConnected.store(false, std::memory_order_release);
    DoDisconnected();
}
