// SPDX-License-Identifier: MIT
// Members deflated ahead of packing, on a helper thread of their own.
//
// Packing a year's archive used to deflate hundreds of megabytes on the GUI thread at the year's
// end while the second core waited. The backup hands each month's data files over as soon as they
// are final (read back and cleared); one helper thread deflates them in order (raw deflate, level 6,
// as libzip would) into memory, with their CRC, while the GUI thread selects and writes the next
// month, into unnamed temporary files (the system's temporary folder; they vanish with the process,
// whatever ends it). CompressFiles then has libzip take the deflated bytes as they are and only encrypt and
// write them; a file the helper has not done, could not read, or that changed since (size or
// modification time) is deflated by libzip from the file as before. Files handed over before they
// are sure to be packed (a month's verified files while the host library clears the month) are
// dropped again when they will not be.
//
// Owned and fed by one thread; the helper thread touches only the files and its own results. The
// destructor stops the helper after the file it is working on. Nothing of the deflated bytes stays
// in memory; a year's temporary files are released when its archive is packed (clear()).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace sjql {

// A file deflated ahead: raw deflate bytes and what libzip needs to take them as they are.
struct DeflatedFile
{
    DeflatedFile() = default;
    DeflatedFile(DeflatedFile&& other) noexcept;
    DeflatedFile& operator=(DeflatedFile&& other) noexcept;
    ~DeflatedFile();

    int fd = -1;                  // unnamed temporary file holding the raw deflate stream (no zlib header)
    std::uint64_t compressed = 0; // its length
    std::uint32_t crc = 0;        // CRC-32 of the file's bytes
    std::uint64_t size = 0;       // the file's size
    std::time_t mtime = 0;        // the file's modification time when it was read
};

class DeflateAhead
{
public:
    // The deflated streams go to unnamed files in `tempFolder` (empty: the system's temporary folder).
    explicit DeflateAhead(const QString& tempFolder = {});
    ~DeflateAhead();
    DeflateAhead(const DeflateAhead&) = delete;
    DeflateAhead& operator=(const DeflateAhead&) = delete;

    // Queues files (full paths) for deflating; returns at once.
    void add(const QStringList& paths);
    // The deflated form of `path` when it is done and the file still has the size and modification
    // time it was read with; waits for the file when it is queued or being deflated (the caller's
    // thread does nothing else meanwhile: call it from a helper thread or after waiting for
    // idle()). Null when the file was never queued, could not be read, or changed.
    const DeflatedFile* take(const QString& path);
    // True when no file is queued or being deflated.
    bool idle() const;
    // Waits until idle() (any thread but the helper).
    void waitIdle();
    // Drops the results of `paths` and takes them out of the queue (a file being deflated now is
    // dropped when it is done): files handed over that will not be packed after all.
    void drop(const QStringList& paths);
    // Drops every result and every queued file.
    void clear();

private:
    void work();

    QString m_tempFolder;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;     // a file was queued, or the object is going away
    std::condition_variable m_finished; // a file was done
    std::deque<QString> m_queue;
    QString m_busy; // the file being deflated
    std::map<QString, DeflatedFile> m_done;
    quint64 m_generation = 0; // counts clear() calls
    QStringList m_dropBusy;   // files dropped while they were being deflated
    bool m_stop = false;
    std::thread m_thread; // last: started when everything above exists
};

// Deflates one file (raw deflate, level 6) with its CRC into an unnamed temporary file in
// `tempFolder`; false when it cannot be read or the stream cannot be stored.
[[nodiscard]] bool DeflateFile(const QString& path, const QString& tempFolder, DeflatedFile* out);

} // namespace sjql
