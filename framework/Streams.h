#pragma once
// Byte streams for the component streamer and the list file operations.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    virtual int64_t Read(void *Buffer, int64_t Count) = 0;  // bytes read, may be fewer
    virtual int64_t Write(const void *Buffer, int64_t Count) = 0;
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0; // new position
    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
    virtual int64_t Size();
    // Exactly Count bytes or EReadError "Stream read error" / EWriteError "Stream write error".
    void ReadBuffer(void *Buffer, int64_t Count);
    void WriteBuffer(const void *Buffer, int64_t Count);
    // Copies Count bytes from Source (0: all of Source from its beginning).
    int64_t CopyFrom(TStream &Source, int64_t Count);
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void *Buffer, int64_t Count) override;
    int64_t Write(const void *Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void Clear();
    void LoadFromStream(TStream &Source);
    const std::vector<uint8_t> &Data() const { return FData; }
    std::string DataString() const { return std::string(FData.begin(), FData.end()); }

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

// Opens or creates a file. Failures raise EFOpenError "Cannot open file \"%s\". %s" or
// "Cannot create file \"%s\". %s" with the system's reason.
enum TFileMode { fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreate };

class TFileStream : public TStream {
public:
    TFileStream(const std::string &FileName, TFileMode Mode);
    ~TFileStream() override;
    TFileStream(const TFileStream &) = delete;
    TFileStream &operator=(const TFileStream &) = delete;
    int64_t Read(void *Buffer, int64_t Count) override;
    int64_t Write(const void *Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    const std::string &FileName() const { return FFileName; }

private:
    std::string FFileName;
    int FHandle = -1;
};
