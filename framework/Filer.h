#pragma once
// What a class sees of the component streamer when it stores data of its own beyond its
// published properties (DefineProperties). The streamer in persist/ implements these.
#include <functional>
#include <string>

class TPersistent;

class TReader {
public:
    virtual ~TReader() = default;
    virtual void ReadListBegin() = 0;
    virtual bool EndOfList() = 0;
    virtual void ReadListEnd() = 0;
    virtual std::string ReadString() = 0;
};

class TWriter {
public:
    virtual ~TWriter() = default;
    virtual void WriteListBegin() = 0;
    virtual void WriteListEnd() = 0;
    virtual void WriteString(const std::string &Value) = 0;
};

class TFiler {
public:
    virtual ~TFiler() = default;
    // The object this one is compared with when writing (nullptr: none).
    virtual const TPersistent *Ancestor() const = 0;
    // Reading: calls ReadData when the stream holds Name. Writing: calls WriteData when HasData.
    virtual void DefineProperty(const std::string &Name, const std::function<void(TReader &)> &ReadData,
                                const std::function<void(TWriter &)> &WriteData, bool HasData) = 0;
};
