// SPDX-License-Identifier: MIT
#include "archive/DeflateAhead.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>

namespace sjql {

DeflatedFile::DeflatedFile(DeflatedFile&& other) noexcept
    : fd(std::exchange(other.fd, -1)), compressed(other.compressed), crc(other.crc), size(other.size),
      mtime(other.mtime)
{}

DeflatedFile& DeflatedFile::operator=(DeflatedFile&& other) noexcept
{
    if (this != &other) {
        if (fd >= 0)
            ::close(fd);
        fd = std::exchange(other.fd, -1);
        compressed = other.compressed;
        crc = other.crc;
        size = other.size;
        mtime = other.mtime;
    }
    return *this;
}

DeflatedFile::~DeflatedFile()
{
    if (fd >= 0)
        ::close(fd);
}

namespace {

bool writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t done = ::write(fd, data, length);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        length -= size_t(done);
    }
    return true;
}

} // namespace

bool DeflateFile(const QString& path, const QString& tempFolder, DeflatedFile* out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Unnamed: nothing is left behind, however the process ends.
    *out = DeflatedFile();
    out->fd = ::open(QFile::encodeName(tempFolder.isEmpty() ? QDir::tempPath() : tempFolder).constData(),
                     O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (out->fd < 0)
        return false;
    const QFileInfo info(path);
    out->mtime = std::time_t(info.lastModified().toSecsSinceEpoch());
    out->size = 0;
    out->crc = std::uint32_t(crc32(0L, Z_NULL, 0));

    z_stream zs{};
    // Raw deflate at level 6 with zlib's default memory level and strategy, as libzip deflates.
    if (deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    QByteArray in(256 * 1024, Qt::Uninitialized);
    QByteArray deflated(256 * 1024, Qt::Uninitialized);
    bool ok = true;
    for (bool last = false; ok && !last;) {
        const qint64 got = file.read(in.data(), in.size());
        if (got < 0) {
            ok = false;
            break;
        }
        last = got == 0 || file.atEnd();
        out->size += std::uint64_t(got);
        out->crc = std::uint32_t(crc32(out->crc, reinterpret_cast<const Bytef*>(in.constData()), uInt(got)));
        zs.next_in = reinterpret_cast<Bytef*>(in.data());
        zs.avail_in = uInt(got);
        int rc = Z_OK;
        do {
            zs.next_out = reinterpret_cast<Bytef*>(deflated.data());
            zs.avail_out = uInt(deflated.size());
            rc = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
            const size_t produced = size_t(deflated.size()) - zs.avail_out;
            if (!writeAll(out->fd, deflated.constData(), produced))
                rc = Z_ERRNO;
            out->compressed += produced;
        } while ((rc == Z_OK || rc == Z_BUF_ERROR) &&
                 (zs.avail_in > 0 || zs.avail_out == 0 || (last && rc != Z_STREAM_END)));
        ok = last ? rc == Z_STREAM_END : (rc == Z_OK || rc == Z_BUF_ERROR);
    }
    deflateEnd(&zs);
    // A file that changed while it was read is not taken.
    return ok && QFileInfo(path).size() == qint64(out->size);
}

DeflateAhead::DeflateAhead(const QString& tempFolder) : m_tempFolder(tempFolder), m_thread([this] { work(); }) {}

DeflateAhead::~DeflateAhead()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void DeflateAhead::add(const QStringList& paths)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const QString& path : paths) {
            if (!path.isEmpty())
                m_queue.push_back(path);
        }
    }
    m_wake.notify_all();
}

const DeflatedFile* DeflateAhead::take(const QString& path)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto pending = [&] {
        if (m_busy == path)
            return true;
        for (const QString& queued : m_queue) {
            if (queued == path)
                return true;
        }
        return false;
    };
    m_finished.wait(lock, [&] { return !pending(); });
    const auto found = m_done.find(path);
    if (found == m_done.end())
        return nullptr;
    const QFileInfo info(path);
    if (info.size() != qint64(found->second.size) ||
        std::time_t(info.lastModified().toSecsSinceEpoch()) != found->second.mtime)
        return nullptr;
    return &found->second;
}

bool DeflateAhead::idle() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.empty() && m_busy.isEmpty();
}

void DeflateAhead::waitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finished.wait(lock, [this] { return m_queue.empty() && m_busy.isEmpty(); });
}

void DeflateAhead::drop(const QStringList& paths)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (const QString& path : paths) {
        std::erase(m_queue, path);
        m_done.erase(path);
        if (!path.isEmpty() && m_busy == path)
            m_dropBusy << path;
    }
}

void DeflateAhead::clear()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
    m_done.clear();
    m_dropBusy.clear();
    ++m_generation; // a file being deflated now is dropped when it is done
}

void DeflateAhead::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return;
        m_busy = m_queue.front();
        m_queue.pop_front();
        const QString path = m_busy;
        const quint64 generation = m_generation;
        lock.unlock();
        DeflatedFile file;
        const bool ok = DeflateFile(path, m_tempFolder, &file);
        lock.lock();
        // A result of a file queued before clear(), or dropped meanwhile, is not kept.
        const bool dropped = m_dropBusy.removeAll(path) > 0;
        if (generation == m_generation && ok && !dropped)
            m_done[path] = std::move(file);
        else if (generation == m_generation)
            m_done.erase(path);
        m_busy.clear();
        m_finished.notify_all();
    }
}

} // namespace sjql
