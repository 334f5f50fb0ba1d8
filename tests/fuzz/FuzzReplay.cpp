// SPDX-License-Identifier: MIT
// A main for fuzz targets built without libFuzzer: every file named on the command line, or found
// in a folder named there, goes through LLVMFuzzerTestOneInput once. A crash or a sanitizer report
// fails the run; an unreadable input or no input at all fails it too, so a moved corpus is noticed.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replayFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "fuzz-replay: cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           static_cast<std::size_t>(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QFile::decodeName(argv[i]);
        if (QFileInfo(arg).isDir()) {
            QDirIterator it(arg, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                ok = replayFile(it.next()) && ok;
                ++replayed;
            }
        } else {
            ok = replayFile(arg) && ok;
            ++replayed;
        }
    }
    std::printf("fuzz-replay: %d inputs replayed\n", replayed);
    return ok && replayed > 0 ? 0 : 1;
}
