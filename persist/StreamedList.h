#pragma once
// The plumbing of a list that stores itself as a component stream (see PersistentStreamer.h):
// load and save through files and streams in the list's one stream format, and the copy into
// another list of its class through a memory stream. L is the list class (it provides
// SetFilename); Format is psfBinary or psfText.
#include "framework/Persistent.h"
#include "framework/Streams.h"
#include "persist/PersistentStreamer.h"

#include <string>

template <class L, int Format>
class TStreamedList : public TPersistent {
public:
    // Errors of the file and of the stream propagate; Filename is set once the file was read.
    virtual void LoadFromFile(const std::string &FileName)
    {
        TFileStream stream(FileName, fmOpenRead);
        LoadFromStream(stream);
        Self().SetFilename(FileName);
    }
    // A save that fails leaves an existing file as it was; Filename is set once it is written.
    virtual void SaveToFile(const std::string &FileName)
    {
        SaveToFileIntact(FileName, [this](TStream &Stream) { SaveToStream(Stream); });
        Self().SetFilename(FileName);
    }
    virtual void LoadFromStream(TStream &Stream)
    {
        TPersistentReader reader(Stream, Format);
        reader.ReadObject(this);
    }
    virtual void SaveToStream(TStream &Stream)
    {
        TPersistentWriter writer(Stream, Format);
        writer.WriteObject(this);
    }

protected:
    // Into another L: everything stored is copied through a memory stream; anything else goes
    // to the base ("Cannot assign a %s to a %s").
    void AssignTo(TPersistent *Dest) const override
    {
        if (auto *list = dynamic_cast<L *>(Dest)) {
            TMemoryStream stream;
            const_cast<TStreamedList *>(this)->SaveToStream(stream);
            stream.SetPosition(0);
            list->LoadFromStream(stream);
            return;
        }
        TPersistent::AssignTo(Dest);
    }

private:
    L &Self() { return static_cast<L &>(*this); }
};
