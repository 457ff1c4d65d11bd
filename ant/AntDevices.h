#pragma once
// The USB ANT devices the controller found, and the ANT stack's exception class.
#include "framework/Collection.h"
#include "framework/Exception.h"
#include "framework/Streams.h"
#include "persist/StreamedList.h"

#include <cstdint>
#include <string>

class EAntError : public Exception {
public:
    using Exception::Exception;
};

class TAntDevice : public TCollectionItem {
public:
    explicit TAntDevice(TCollection *Collection);
    std::string ClassName() const override { return "TAntDevice"; }
    const TPropList &Properties() const override; // BaudRate
    // Another device gives its published properties; anything else goes to the base.
    void Assign(const TPersistent *Source) override;

    uint16_t BaudRate() const { return FBaudRate; }
    void SetBaudRate(uint16_t Value);
    // Declared for the device; the system does not raise them.
    TNotifyEvent OnConnected;
    TNotifyEvent OnDisconnected;

    // What the scan and the connection filled in; never streamed.
    bool Connected() const { return FConnected; }
    void SetConnected(bool Value);
    uint8_t InitStep() const { return FInitStep; }
    void SetInitStep(uint8_t Value);
    uint8_t DevicePID() const { return FDevicePID; }
    void SetDevicePID(uint8_t Value);
    const std::string &DeviceSerial() const { return FDeviceSerial; }
    void SetDeviceSerial(const std::string &Value);
    uint8_t MaxChannels() const { return FMaxChannels; }
    void SetMaxChannels(uint8_t Value);
    const std::string &DeviceDescription() const { return FDeviceDescription; } // UTF-8
    void SetDeviceDescription(const std::string &Value);
    uint8_t DeviceNum() const { return FDeviceNum; }
    void SetDeviceNum(uint8_t Value);

private:
    uint16_t FBaudRate = 57600;
    bool FConnected = false;
    uint8_t FInitStep = 0;
    uint8_t FDevicePID = 0;
    std::string FDeviceSerial;
    uint8_t FMaxChannels = 8;
    std::string FDeviceDescription;
    uint8_t FDeviceNum = 0;
};

class TAntDevices : public TCollection {
public:
    explicit TAntDevices(TPersistent *Owner);
    std::string ClassName() const override { return "TAntDevices"; }
    TAntDevice *Items(int Index) const { return static_cast<TAntDevice *>(TCollection::Items(Index)); }
};

// Stored in the text form of the component stream.
class TAntDeviceList : public TStreamedList<TAntDeviceList, psfText> {
public:
    explicit TAntDeviceList(TPersistent *AOwner);
    ~TAntDeviceList() override;
    TAntDeviceList(const TAntDeviceList &) = delete;
    TAntDeviceList &operator=(const TAntDeviceList &) = delete;

    std::string ClassName() const override { return "TAntDeviceList"; }
    const TPropList &Properties() const override; // Name, Filename, AntDeviceItems
    TPersistent *GetOwner() const override { return FOwner; }

    const std::string &Name() const { return FName; }
    virtual void SetName(const std::string &Value);
    const std::string &Filename() const { return FFilename; }
    virtual void SetFilename(const std::string &Value);
    TAntDevices *AntDeviceItems() const { return FAntDeviceItems; }

    TAntDevice *Add();
    TAntDevice *Items(int Index) const; // EListError on a bad index
    int Count() const;
    virtual void Clear();
    // Does nothing for an index outside the list.
    virtual void Delete(int Index);

    // From another device list: Filename and copies of its devices; Name stays.
    void Assign(const TPersistent *Source) override;

private:
    TPersistent *FOwner;
    std::string FName;
    std::string FFilename;
    TAntDevices *FAntDeviceItems;
};
