#pragma once
// Saving and loading one persistent object (a list) as a component stream: the object is
// streamed as the Instance of a holder component, so its properties are stored under
// "Instance.<name>" and read back into the existing object.
#include "framework/Component.h"
#include "framework/Streams.h"

#include <functional>
#include <string>

// Stream formats of the writer and reader.
constexpr int psfBinary = 1; // component stream, binary form ("TPF0")
constexpr int psfText = 2;   // component stream, text form

class TPersistentHolder : public TComponent {
public:
    explicit TPersistentHolder(TComponent *AOwner);
    std::string ClassName() const override { return "TPersistentHolder"; }
    const TPropList &Properties() const override; // Name, Instance

    TPersistent *Instance() const { return FInstance; }
    void SetInstance(TPersistent *Value) { FInstance = Value; }

private:
    TPersistent *FInstance = nullptr; // not owned
};

class TPersistentWriter {
public:
    // Format is psfBinary or psfText (else EFilerError "Invalid stream format").
    TPersistentWriter(TStream &Stream, int Format);
    // Writes Instance at the stream's position.
    void WriteObject(TPersistent *Instance);

private:
    TStream &FStream;
    int FFormat;
};

class TPersistentReader {
public:
    // Takes the input at once: the binary form is copied from the stream's beginning, the text
    // form is converted from the stream's position. Errors of the input raise here.
    TPersistentReader(TStream &Stream, int Format);
    // Applies the stored properties to the existing Instance.
    void ReadObject(TPersistent *Instance);

private:
    TMemoryStream FBuffer;
};

// Streams through Save into memory first and only then creates FileName, so a save that
// fails leaves an existing file as it was instead of truncated.
void SaveToFileIntact(const std::string &FileName, const std::function<void(TStream &)> &Save);
