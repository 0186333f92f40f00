// The open file of one answer, sent piece by piece from the file or from its kept contents.
#pragma once

#include "http/FileCache.h"
#include "net/clsSocket.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <string>

namespace quenloft {

// The file of the answer being sent, kept open for the length of one transfer so that each
// piece is one read at a known offset, and so that the bytes sent are exactly the length
// announced (the file may change meanwhile). A small file's contents kept in memory serve
// instead of the open file: they are the file's bytes when the answer began. What is sent
// is the whole file, or the part of it that Select chose.
class FileTransfer {
public:
    // Opens a file that passes the existence test (a regular file, not hidden) for
    // reading; false when there is none or it cannot be opened. Its contents come from
    // `kept` when they stand for it, and a small file's contents are kept there.
    bool Open(const std::string& path, FileCache& kept);
    void Close();
    bool IsOpen() const { return descriptor_.IsOpen() || contents_ != nullptr; }
    // The file's length when it was opened.
    int64_t Size() const { return size_; }
    // Sends bytes `first` up to (not including) `end` instead of the whole file.
    void Select(int64_t first, int64_t end);
    // Where the next piece begins (0-based), and where the transfer ends.
    int64_t Position() const { return position_; }
    int64_t End() const { return end_; }
    int64_t Remaining() const { return end_ - position_; }
    // Reads the next piece of at most `limit` bytes; empty once the end is reached, or when
    // the file ended early or failed (then Position() < End()).
    std::string NextPiece(int64_t limit);
    // Sends the next piece of at most `limit` bytes through `socket` straight from the
    // file; its size, 0 at the end or when the file ended early.
    int64_t SendPiece(clsSocket& socket, int64_t limit);
    // The file's first bytes, at most `limit` of them, wherever the transfer stands.
    std::string Opening(int64_t limit) const;

private:
    std::string Read(int64_t offset, int64_t count) const;

    UniqueFd descriptor_;
    FileCache::Contents contents_; // the file's bytes, when they are sent from memory
    int64_t size_ = 0;
    int64_t position_ = 0;
    int64_t end_ = 0;
};

} // namespace quenloft
