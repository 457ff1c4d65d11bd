#include "persist/PersistentStreamer.h"

#include "framework/Exception.h"
#include "persist/ComponentStream.h"

#include <memory>

namespace {

// A stream naming the holder must find its class.
const bool HolderRegistered = [] {
    RegisterClass("TPersistentHolder", [] { return new TPersistentHolder(nullptr); });
    return true;
}();

void CheckFormat(int Format)
{
    if (Format != psfBinary && Format != psfText)
        throw EFilerError("Invalid stream format");
}

} // namespace

TPersistentHolder::TPersistentHolder(TComponent *AOwner) : TComponent(AOwner)
{
    (void)HolderRegistered;
}

const TPropList &TPersistentHolder::Properties() const
{
    static const TPropList props = InheritProps(
        TComponent::Properties(), {ObjProp<TPersistentHolder>("Instance", "TPersistent", &TPersistentHolder::Instance)});
    return props;
}

TPersistentWriter::TPersistentWriter(TStream &Stream, int Format) : FStream(Stream), FFormat(Format)
{
    CheckFormat(Format);
}

void TPersistentWriter::WriteObject(TPersistent *Instance)
{
    auto holder = std::make_unique<TPersistentHolder>(nullptr);
    holder->SetInstance(Instance);
    if (FFormat == psfBinary) {
        WriteComponentStream(FStream, *holder);
        return;
    }
    TMemoryStream binary;
    WriteComponentStream(binary, *holder);
    binary.SetPosition(0);
    ObjectBinaryToText(binary, FStream);
}

TPersistentReader::TPersistentReader(TStream &Stream, int Format)
{
    CheckFormat(Format);
    if (Format == psfBinary) {
        Stream.SetPosition(0);
        FBuffer.CopyFrom(Stream, 0);
    } else {
        ObjectTextToBinary(Stream, FBuffer);
    }
    FBuffer.SetPosition(0);
}

void TPersistentReader::ReadObject(TPersistent *Instance)
{
    auto holder = std::make_unique<TPersistentHolder>(nullptr);
    holder->SetInstance(Instance);
    FBuffer.SetPosition(0);
    ReadComponentStream(FBuffer, *holder);
}

void SaveToFileIntact(const std::string &FileName, const std::function<void(TStream &)> &Save)
{
    TMemoryStream buffer;
    Save(buffer);
    TFileStream file(FileName, fmCreate);
    file.WriteBuffer(buffer.Data().data(), static_cast<int64_t>(buffer.Data().size()));
}
