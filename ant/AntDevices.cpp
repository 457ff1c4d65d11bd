#include "ant/AntDevices.h"

// ---- TAntDevice --------------------------------------------------------------------------------

TAntDevice::TAntDevice(TCollection *Collection) : TCollectionItem(Collection) {}

const TPropList &TAntDevice::Properties() const
{
    // No declared default: BaudRate is always stored.
    static const TPropList props = InheritProps(
        TCollectionItem::Properties(),
        {IntProp<TAntDevice, uint16_t>("BaudRate", "Word", &TAntDevice::BaudRate, &TAntDevice::SetBaudRate)});
    return props;
}

void TAntDevice::Assign(const TPersistent *Source)
{
    if (const auto *device = dynamic_cast<const TAntDevice *>(Source)) {
        AssignPublishedProperties(*device, *this);
        return;
    }
    TCollectionItem::Assign(Source);
}

void TAntDevice::SetBaudRate(uint16_t Value)
{
    if (FBaudRate != Value)
        FBaudRate = Value;
}

void TAntDevice::SetConnected(bool Value)
{
    if (FConnected != Value)
        FConnected = Value;
}

void TAntDevice::SetInitStep(uint8_t Value)
{
    if (FInitStep != Value)
        FInitStep = Value;
}

void TAntDevice::SetDevicePID(uint8_t Value)
{
    if (FDevicePID != Value)
        FDevicePID = Value;
}

void TAntDevice::SetDeviceSerial(const std::string &Value)
{
    if (FDeviceSerial != Value)
        FDeviceSerial = Value;
}

void TAntDevice::SetMaxChannels(uint8_t Value)
{
    if (FMaxChannels != Value)
        FMaxChannels = Value;
}

void TAntDevice::SetDeviceDescription(const std::string &Value)
{
    if (FDeviceDescription != Value)
        FDeviceDescription = Value;
}

void TAntDevice::SetDeviceNum(uint8_t Value)
{
    if (FDeviceNum != Value)
        FDeviceNum = Value;
}

// ---- TAntDevices -------------------------------------------------------------------------------

TAntDevices::TAntDevices(TPersistent *Owner)
    : TCollection([](TCollection *c) -> TCollectionItem * { return new TAntDevice(c); }, "TAntDevice", Owner)
{
}

// ---- TAntDeviceList ----------------------------------------------------------------------------

TAntDeviceList::TAntDeviceList(TPersistent *AOwner) : FOwner(AOwner), FAntDeviceItems(new TAntDevices(this)) {}

TAntDeviceList::~TAntDeviceList()
{
    delete FAntDeviceItems;
}

const TPropList &TAntDeviceList::Properties() const
{
    static const TPropList props = InheritProps(
        TPersistent::Properties(),
        {StrProp<TAntDeviceList>("Name", &TAntDeviceList::Name, &TAntDeviceList::SetName),
         StrProp<TAntDeviceList>("Filename", &TAntDeviceList::Filename, &TAntDeviceList::SetFilename, "TFileName"),
         ObjProp<TAntDeviceList>("AntDeviceItems", "TAntDevices", &TAntDeviceList::AntDeviceItems)});
    return props;
}

void TAntDeviceList::SetName(const std::string &Value)
{
    if (FName != Value)
        FName = Value;
}

void TAntDeviceList::SetFilename(const std::string &Value)
{
    if (FFilename != Value)
        FFilename = Value;
}

TAntDevice *TAntDeviceList::Add()
{
    return static_cast<TAntDevice *>(FAntDeviceItems->Add());
}

TAntDevice *TAntDeviceList::Items(int Index) const
{
    return FAntDeviceItems->Items(Index);
}

int TAntDeviceList::Count() const
{
    return FAntDeviceItems->Count();
}

void TAntDeviceList::Clear()
{
    FAntDeviceItems->Clear();
}

void TAntDeviceList::Delete(int Index)
{
    if (Index >= 0 && Index < Count())
        FAntDeviceItems->Delete(Index);
}

void TAntDeviceList::Assign(const TPersistent *Source)
{
    if (const auto *list = dynamic_cast<const TAntDeviceList *>(Source)) {
        if (list == this)
            return;
        SetFilename(list->Filename());
        FAntDeviceItems->Assign(list->AntDeviceItems());
        return;
    }
    TPersistent::Assign(Source);
}
