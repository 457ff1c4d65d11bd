#include "framework/Streams.h"

#include "framework/Exception.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Repeats a partial read or write until Count bytes are done, end of file or an error; an
// interrupted call is retried. Returns the bytes done.
template <typename Byte, typename Op>
int64_t TransferAll(Byte *p, int64_t Count, Op op)
{
    int64_t done = 0;
    while (done < Count) {
        const ssize_t n = op(p + done, static_cast<size_t>(Count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

// ---- TStream -----------------------------------------------------------------------------------

int64_t TStream::Size()
{
    const int64_t position = Seek(0, soCurrent);
    const int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::ReadBuffer(void *Buffer, int64_t Count)
{
    if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count))
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void *Buffer, int64_t Count)
{
    if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count))
        throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream &Source, int64_t Count)
{
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    if (Count < 0)
        throw EReadError("Stream read error");
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(Count, 64 * 1024)));
    int64_t left = Count;
    while (left > 0) {
        const int64_t chunk = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
        Source.ReadBuffer(buffer.data(), chunk);
        WriteBuffer(buffer.data(), chunk);
        left -= chunk;
    }
    return Count;
}

// ---- TMemoryStream -----------------------------------------------------------------------------

int64_t TMemoryStream::Read(void *Buffer, int64_t Count)
{
    const int64_t size = static_cast<int64_t>(FData.size());
    if (Count <= 0 || FPosition < 0 || FPosition >= size)
        return 0;
    const int64_t n = std::min(Count, size - FPosition);
    std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void *Buffer, int64_t Count)
{
    if (Count <= 0 || FPosition < 0)
        return 0;
    const int64_t end = FPosition + Count;
    // Writing past the end leaves zero bytes in the gap.
    if (end > static_cast<int64_t>(FData.size()))
        FData.resize(static_cast<size_t>(end), 0);
    std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition = end;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    switch (Origin) {
    case soBeginning:
        FPosition = Offset;
        break;
    case soCurrent:
        FPosition += Offset;
        break;
    case soEnd:
        FPosition = static_cast<int64_t>(FData.size()) + Offset;
        break;
    }
    return FPosition;
}

void TMemoryStream::Clear()
{
    FData.clear();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream &Source)
{
    Source.SetPosition(0);
    const int64_t count = Source.Size();
    std::vector<uint8_t> data(static_cast<size_t>(std::max<int64_t>(count, 0)));
    if (!data.empty())
        Source.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    // Replaced only once the whole source was read.
    FData = std::move(data);
    FPosition = 0;
}

// ---- TFileStream -------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string &FileName, TFileMode Mode) : FFileName(FileName)
{
    int flags = O_CLOEXEC;
    switch (Mode) {
    case fmOpenRead:
        flags |= O_RDONLY;
        break;
    case fmOpenWrite:
        flags |= O_WRONLY;
        break;
    case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
    case fmCreate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    const char *pattern = Mode == fmCreate ? "Cannot create file \"" : "Cannot open file \"";
    int fd;
    do {
        fd = ::open(FileName.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        // A directory opens for reading on this system but is no file to stream.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            fd = -1;
            error = EISDIR;
        }
    }
    if (fd < 0)
        throw EFOpenError(std::string(pattern) + FileName + "\". " + std::strerror(error));
    FHandle = fd;
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

int64_t TFileStream::Read(void *Buffer, int64_t Count)
{
    return TransferAll(static_cast<uint8_t *>(Buffer), Count,
                       [this](uint8_t *p, size_t n) { return ::read(FHandle, p, n); });
}

int64_t TFileStream::Write(const void *Buffer, int64_t Count)
{
    return TransferAll(static_cast<const uint8_t *>(Buffer), Count,
                       [this](const uint8_t *p, size_t n) { return ::write(FHandle, p, n); });
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    const int whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
    return static_cast<int64_t>(::lseek(FHandle, static_cast<off_t>(Offset), whence));
}
