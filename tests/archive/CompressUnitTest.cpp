// SPDX-License-Identifier: MIT
#include "archive/CompressUnit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <zip.h>

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

using namespace sjql;

namespace {

const QString Password = QString(ArchivePassword);

struct ToolRun
{
    int exitCode = -1;
    QString output;
};

ToolRun runTool(const QString& program, const QStringList& arguments, const QString& workDir = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return {-1, QStringLiteral("%1 did not finish").arg(program)};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// A work folder with the year's files as the backup run leaves them.
class ArchiveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        src = tmp.filePath(QStringLiteral("work/2019"));
        dest = tmp.filePath(QStringLiteral("UnZipDir"));
        ASSERT_TRUE(QDir().mkpath(src));
        // Compressible text plus some noise, so deflate has real work to do.
        QByteArray wage;
        for (int i = 0; i < 2000; ++i)
            wage +=
                "row " + QByteArray::number(i) + " 工资 " + QByteArray::number(QRandomGenerator::global()->generate());
        contents = {{QStringLiteral("ZCGZXJMXB_201903.dat"), wage},
                    {QStringLiteral("FGZXJB_201903.dat"), QByteArray()},
                    {QStringLiteral("BFZYXX.xml"), QByteArray("<?xml version=\"1.0\" encoding=\"GBK\" ?><Q/>")}};
        for (const auto& [name, bytes] : contents) {
            writeFile(QDir(src).filePath(name), bytes);
            files.append(QDir(src).filePath(name));
        }
        archive = tmp.filePath(QStringLiteral("2019.zip"));
    }

    void expectUnpacked(const QString& folder)
    {
        for (const auto& [name, bytes] : contents)
            EXPECT_EQ(readFile(QDir(folder).filePath(name)), bytes) << name.toStdString();
    }

    QTemporaryDir tmp;
    QString src, dest, archive;
    QStringList files;
    std::vector<std::pair<QString, QByteArray>> contents;
};

TEST_F(ArchiveTest, RoundTripKeepsBytesAndFlatNames)
{
    QString error;
    ASSERT_TRUE(CompressFiles(files, archive, Password, &error)) << error.toStdString();
    ASSERT_TRUE(UncompressFile(archive, dest, false, Password, &error)) << error.toStdString();
    expectUnpacked(dest);
    EXPECT_EQ(filesIn(dest).size(), 3);
    // Only the archive itself is left beside it: no temporary file of the writer.
    EXPECT_EQ(filesIn(tmp.path()), QStringList{QStringLiteral("2019.zip")});
}

TEST_F(ArchiveTest, OtherZipToolsReadOurArchives)
{
    ASSERT_TRUE(CompressFiles(files, archive, Password));

    const ToolRun unzip = runTool(QStringLiteral("unzip"), {QStringLiteral("-P"), Password, QStringLiteral("-o"),
                                                            archive, QStringLiteral("-d"), dest});
    ASSERT_EQ(unzip.exitCode, 0) << unzip.output.toStdString();
    expectUnpacked(dest);

    const ToolRun sevenZip = runTool(
        QStringLiteral("7z"), {QStringLiteral("l"), QStringLiteral("-slt"), QStringLiteral("-p") + Password, archive});
    ASSERT_EQ(sevenZip.exitCode, 0) << sevenZip.output.toStdString();
    EXPECT_EQ(sevenZip.output.count(QStringLiteral("Method = ZipCrypto Deflate")), 3) << sevenZip.output.toStdString();
    EXPECT_EQ(sevenZip.output.count(QStringLiteral("Encrypted = +")), 3);

    // Python's reader checks names, methods and the encryption flag of every member.
    const QString script = QStringLiteral("import sys, zipfile\n"
                                          "z = zipfile.ZipFile(sys.argv[1])\n"
                                          "for i in z.infolist():\n"
                                          "    assert i.compress_type == zipfile.ZIP_DEFLATED and i.flag_bits & 1, i\n"
                                          "    z.read(i, pwd=sys.argv[2].encode())\n"
                                          "print(' '.join(i.filename for i in z.infolist()))\n");
    const ToolRun python = runTool(QStringLiteral("python3"), {QStringLiteral("-c"), script, archive, Password});
    ASSERT_EQ(python.exitCode, 0) << python.output.toStdString();
    EXPECT_EQ(python.output.trimmed(), QStringLiteral("ZCGZXJMXB_201903.dat FGZXJB_201903.dat BFZYXX.xml"));
}

TEST_F(ArchiveTest, ArchivesOfOtherZipToolsUnpack)
{
    const QString infoZip = tmp.filePath(QStringLiteral("infozip.zip"));
    const QString sevenZip = tmp.filePath(QStringLiteral("7z.zip"));
    QStringList names;
    for (const auto& entry : contents)
        names.append(entry.first);
    ToolRun run = runTool(QStringLiteral("zip"),
                          QStringList{QStringLiteral("-q"), QStringLiteral("-P"), Password, infoZip} + names, src);
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    run = runTool(QStringLiteral("7z"),
                  QStringList{QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-mem=ZipCrypto"),
                              QStringLiteral("-p") + Password, sevenZip} +
                      names,
                  src);
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();

    for (const QString& path : {infoZip, sevenZip}) {
        QString error;
        const QString out = tmp.filePath(QFileInfo(path).baseName());
        ASSERT_TRUE(UncompressFile(path, out, false, Password, &error)) << error.toStdString();
        expectUnpacked(out);
        EXPECT_FALSE(UncompressFile(path, out, false, QStringLiteral("wrong"), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("wrong password"))) << error.toStdString();
    }
}

TEST_F(ArchiveTest, UpdateAddsAndReplacesMembers)
{
    ASSERT_TRUE(CompressFiles(files.mid(0, 2), archive, Password));
    writeFile(files[0], "replaced");
    contents[0].second = "replaced";
    ASSERT_TRUE(CompressFiles(QStringList{files[0], files[2]}, archive, Password));
    ASSERT_TRUE(UncompressFile(archive, dest, false, Password));
    expectUnpacked(dest);
    EXPECT_EQ(filesIn(dest).size(), 3);
}

TEST_F(ArchiveTest, FileListTextWithTrailingLineBreakPacksTheSameMembers)
{
    ASSERT_TRUE(CompressFiles(files.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"), archive, Password));
    ASSERT_TRUE(UncompressFile(archive, dest, false, Password));
    EXPECT_EQ(filesIn(dest), (QStringList{QStringLiteral("BFZYXX.xml"), QStringLiteral("FGZXJB_201903.dat"),
                                          QStringLiteral("ZCGZXJMXB_201903.dat")}));
}

TEST_F(ArchiveTest, PackingFailuresWriteNothing)
{
    QString error;
    // A missing file of the list fails before anything is written.
    EXPECT_FALSE(
        CompressFiles(files + QStringList{tmp.filePath(QStringLiteral("missing.dat"))}, archive, Password, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing.dat"))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(archive));
    // An unset backup folder gives a bare name: it must not land in the current folder.
    EXPECT_FALSE(CompressFiles(files, QStringLiteral("2019.zip"), Password, &error));
    EXPECT_FALSE(CompressFiles(files, tmp.filePath(QStringLiteral("nofolder/2019.zip")), Password, &error));
    EXPECT_FALSE(CompressFiles(QStringList{}, archive, Password, &error));
    // Something that is not an archive stays as it was.
    writeFile(archive, "not a zip");
    EXPECT_FALSE(CompressFiles(files, archive, Password, &error));
    EXPECT_EQ(readFile(archive), QByteArray("not a zip"));
    // A read-only folder (unless we run as root, who may write anyway).
    const QString readOnly = tmp.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkpath(readOnly));
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (!QFileInfo(readOnly).isWritable() || geteuid() != 0) {
        EXPECT_FALSE(CompressFiles(files, QDir(readOnly).filePath(QStringLiteral("a.zip")), Password, &error));
        EXPECT_TRUE(filesIn(readOnly).isEmpty());
    }
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(ArchiveTest, UnpackOverwritesFilesLeftInTheFolder)
{
    ASSERT_TRUE(CompressFiles(files, archive, Password));
    ASSERT_TRUE(QDir().mkpath(dest));
    writeFile(QDir(dest).filePath(QStringLiteral("BFZYXX.xml")), QByteArray(10000, 'x'));
    ASSERT_TRUE(UncompressFile(archive, dest, false, Password));
    expectUnpacked(dest);
}

TEST_F(ArchiveTest, WrongPasswordIsReportedAsSuchAndWritesNothing)
{
    // One member only: a wrong password that slips through the cipher's one-byte check (about
    // one in 256) is caught by the CRC and must still be reported as a wrong password.
    ASSERT_TRUE(CompressFiles(files.mid(0, 1), archive, Password));
    for (int i = 0; i < 600; ++i) {
        QString error;
        ASSERT_FALSE(UncompressFile(archive, dest, false, QStringLiteral("bad%1").arg(i), &error));
        ASSERT_TRUE(error.contains(QStringLiteral("wrong password"))) << error.toStdString();
        ASSERT_TRUE(error.contains(QStringLiteral("ZCGZXJMXB_201903.dat"))) << error.toStdString();
    }
    EXPECT_TRUE(filesIn(dest).isEmpty());
    QString error;
    EXPECT_FALSE(UncompressFile(archive, dest, false, std::nullopt, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("no password"))) << error.toStdString();
}

TEST_F(ArchiveTest, DamagedArchivesFailCleanly)
{
    ASSERT_TRUE(CompressFiles(files, archive, Password));
    const QByteArray good = readFile(archive);
    QString error;

    const QString truncated = tmp.filePath(QStringLiteral("truncated.zip"));
    writeFile(truncated, good.left(good.size() / 2));
    EXPECT_FALSE(UncompressFile(truncated, dest, false, Password, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("archive truncated.zip: "))) << error.toStdString();
    EXPECT_TRUE(filesIn(dest).isEmpty());

    // A flipped byte inside the first member's data: once the password has proved right, the
    // damage is reported as damage, and the damaged member leaves no file behind.
    QByteArray damaged = good;
    ASSERT_TRUE(CompressFiles(files.mid(2, 1) + files.mid(0, 1), tmp.filePath(QStringLiteral("order.zip")), Password));
    damaged = readFile(tmp.filePath(QStringLiteral("order.zip")));
    const qsizetype second = damaged.indexOf("PK\x03\x04", 4);
    ASSERT_GT(second, 0);
    damaged[second + 30 + 20 + 12 + 100] = char(damaged[second + 30 + 20 + 12 + 100] ^ 0x55);
    const QString flipped = tmp.filePath(QStringLiteral("flipped.zip"));
    writeFile(flipped, damaged);
    EXPECT_FALSE(UncompressFile(flipped, dest, false, Password, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("archive flipped.zip: member ZCGZXJMXB_201903.dat: ")))
        << error.toStdString();
    EXPECT_FALSE(error.contains(QStringLiteral("password"))) << error.toStdString();
    EXPECT_EQ(filesIn(dest), QStringList{QStringLiteral("BFZYXX.xml")});

    EXPECT_FALSE(UncompressFile(tmp.filePath(QStringLiteral("absent.zip")), dest, false, Password, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("absent.zip"))) << error.toStdString();
}

// A crafted archive: members of the given names and bytes, encrypted with the archive password.
void craftArchive(const QString& path, const std::vector<std::pair<QByteArray, QByteArray>>& members)
{
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    ASSERT_NE(zip, nullptr);
    const QByteArray password = Password.toLatin1();
    for (const auto& [name, bytes] : members) {
        zip_source_t* data = zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index = zip_file_add(zip, name.constData(), data, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(index, 0);
        ASSERT_EQ(zip_file_set_encryption(zip, zip_uint64_t(index), ZIP_EM_TRAD_PKWARE, password.constData()), 0);
    }
    ASSERT_EQ(zip_close(zip), 0); // the buffers above outlive this call
}

TEST_F(ArchiveTest, OnlyChosenMembersWithinTheLimitsAreUnpacked)
{
    ASSERT_TRUE(CompressFiles(files, archive, Password));
    QString error;
    UnpackProblem problem = UnpackProblem::Unreadable;
    UnpackOptions options;
    // A name in another case lands under the name asked for; an absent name is no error.
    options.onlyNames = QStringList{QStringLiteral("BFZYXX.xml"), QStringLiteral("fgzxjb_201903.DAT"),
                                    QStringLiteral("KJSDSBGB_201903.dat")};
    ASSERT_TRUE(UncompressFile(archive, dest, false, Password, options, &error, &problem)) << error.toStdString();
    EXPECT_EQ(problem, UnpackProblem::None);
    EXPECT_EQ(filesIn(dest), (QStringList{QStringLiteral("BFZYXX.xml"), QStringLiteral("fgzxjb_201903.DAT")}));
    EXPECT_EQ(readFile(QDir(dest).filePath(QStringLiteral("BFZYXX.xml"))), contents[2].second);

    // Limits on the directory and on the declared sizes refuse the archive before anything is written.
    const QString other = tmp.filePath(QStringLiteral("other"));
    UnpackOptions entries;
    entries.maxEntries = 2;
    EXPECT_FALSE(UncompressFile(archive, other, false, Password, entries, &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::Refused);
    EXPECT_TRUE(error.contains(QStringLiteral("3 entries"))) << error.toStdString();
    UnpackOptions size;
    size.maxTotalSize = contents[0].second.size(); // the summary does not fit beside the wage file
    EXPECT_FALSE(UncompressFile(archive, other, false, Password, size, &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::Refused);
    size.onlyNames = QStringList{QStringLiteral("ZCGZXJMXB_201903.dat")}; // unless only it is wanted
    EXPECT_TRUE(UncompressFile(archive, other, false, Password, size, &error, &problem)) << error.toStdString();
    EXPECT_EQ(filesIn(other), QStringList{QStringLiteral("ZCGZXJMXB_201903.dat")});

    // Wrong password and damage keep their kinds.
    EXPECT_FALSE(UncompressFile(archive, other, false, QStringLiteral("bad"), UnpackOptions(), &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::WrongPassword);
    EXPECT_FALSE(UncompressFile(tmp.filePath(QStringLiteral("absent.zip")), other, false, Password, UnpackOptions(),
                                &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::Unreadable);
}

TEST_F(ArchiveTest, CraftedArchivesAreRefusedBeforeAnythingIsWritten)
{
    // Thousands of small members: refused by the count, whatever they hold.
    std::vector<std::pair<QByteArray, QByteArray>> many;
    for (int i = 0; i < 1500; ++i)
        many.push_back({"m" + QByteArray::number(i) + ".dat", "x"});
    const QString crowd = tmp.filePath(QStringLiteral("crowd.zip"));
    craftArchive(crowd, many);
    UnpackOptions options;
    options.maxEntries = 1000;
    options.onlyNames = QStringList{QStringLiteral("m1.dat")};
    QString error;
    UnpackProblem problem = UnpackProblem::None;
    EXPECT_FALSE(UncompressFile(crowd, dest, false, Password, options, &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::Refused);
    EXPECT_FALSE(QDir(dest).exists());

    // Two members that land under one chosen name: which one is meant cannot be told.
    const QString twice = tmp.filePath(QStringLiteral("twice.zip"));
    craftArchive(twice, {{"a/x.dat", "first"}, {"x.dat", "second"}, {"BFZYXX.xml", "<Q/>"}});
    options = UnpackOptions();
    options.onlyNames = QStringList{QStringLiteral("x.dat")};
    EXPECT_FALSE(UncompressFile(twice, dest, false, Password, options, &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::Refused);
    EXPECT_TRUE(error.contains(QStringLiteral("x.dat"))) << error.toStdString();
    EXPECT_FALSE(QDir(dest).exists());
    // The other members of that archive are fine to take.
    options.onlyNames = QStringList{QStringLiteral("BFZYXX.xml")};
    EXPECT_TRUE(UncompressFile(twice, dest, false, Password, options, &error, &problem)) << error.toStdString();
    EXPECT_EQ(filesIn(dest), QStringList{QStringLiteral("BFZYXX.xml")});
}

TEST_F(ArchiveTest, LackOfSpaceIsReportedAsSuchNeverAsDamage)
{
    ASSERT_TRUE(CompressFiles(files, archive, Password));
    QString error;
    UnpackProblem problem = UnpackProblem::None;

    // Too little free space for the declared sizes: refused before the folder is even made.
    qint64 freeBytes = 1000;
    SetUnpackDeviceHooks([&](const QString&) { return freeBytes; }, {});
    EXPECT_FALSE(UncompressFile(archive, dest, false, Password, UnpackOptions(), &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::NoSpace);
    EXPECT_TRUE(error.contains(QStringLiteral("not enough space on the device holding ") + dest))
        << error.toStdString();
    EXPECT_FALSE(QDir(dest).exists());

    // The device fills up while writing (another program took the space): said as such, and the
    // member being written leaves nothing behind.
    qint64 room = 3000;
    freeBytes = -1;
    SetUnpackDeviceHooks([&](const QString&) { return freeBytes; },
                         [&](int fd, const char* data, qint64 size) {
                             if (room <= 0) {
                                 errno = ENOSPC;
                                 return qint64(-1);
                             }
                             const qint64 n = qMin(size, room);
                             room -= n;
                             return qint64(::write(fd, data, size_t(n)));
                         });
    EXPECT_FALSE(UncompressFile(archive, dest, false, Password, UnpackOptions(), &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::NoSpace);
    EXPECT_TRUE(error.contains(QStringLiteral("no space left on the device holding"))) << error.toStdString();
    EXPECT_FALSE(error.contains(QStringLiteral("damaged"))) << error.toStdString();
    EXPECT_TRUE(filesIn(dest).isEmpty()) << filesIn(dest).join(QLatin1Char(' ')).toStdString();

    // Another write failure is no lack of space.
    SetUnpackDeviceHooks({}, [](int, const char*, qint64) {
        errno = EIO;
        return qint64(-1);
    });
    EXPECT_FALSE(UncompressFile(archive, dest, false, Password, UnpackOptions(), &error, &problem));
    EXPECT_EQ(problem, UnpackProblem::WriteFailed);
    EXPECT_FALSE(error.contains(QStringLiteral("space"))) << error.toStdString();
    SetUnpackDeviceHooks({}, {});
    EXPECT_TRUE(UncompressFile(archive, dest, false, Password, UnpackOptions(), &error, &problem));
    expectUnpacked(dest);
}

// One hostile or damaged archive per defect; the catalogue is written by a script at run time.
struct HostileCase
{
    const char* archive;
    bool accepted;
    const char* landsAs; // the file that must appear in the unpack folder, if accepted
};

void PrintTo(const HostileCase& c, std::ostream* out)
{
    *out << c.archive;
}

class HostileArchiveTest : public ::testing::TestWithParam<HostileCase>
{
protected:
    static void SetUpTestSuite()
    {
        catalogue = new QTemporaryDir;
        const ToolRun run =
            runTool(QStringLiteral("python3"),
                    {QStringLiteral(SJQL_SOURCE_DIR "/tests/data/zip/make_fixtures.py"), catalogue->path()});
        ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete catalogue;
        catalogue = nullptr;
    }
    static QTemporaryDir* catalogue;
};
QTemporaryDir* HostileArchiveTest::catalogue = nullptr;

TEST_P(HostileArchiveTest, NothingLandsOutsideTheUnpackFolder)
{
    const HostileCase& c = GetParam();
    QTemporaryDir root;
    // The unpack folder sits two levels deep so that "../.." still stays inside `root`.
    const QString dest = root.filePath(QStringLiteral("a/b/UnZipDir"));
    ASSERT_TRUE(QDir().mkpath(dest));
    QString error;
    const bool ok =
        UncompressFile(QDir(catalogue->path()).filePath(QString::fromLatin1(c.archive)), dest, false, Password, &error);
    EXPECT_EQ(ok, c.accepted) << error.toStdString();
    if (!ok) {
        EXPECT_TRUE(error.startsWith(QStringLiteral("archive %1: member ").arg(QString::fromLatin1(c.archive))))
            << error.toStdString();
    }
    const QStringList landed = filesIn(dest);
    EXPECT_EQ(landed, c.accepted ? QStringList{QString::fromUtf8(c.landsAs)} : QStringList{});
    // Nothing beside the unpack folder, and no folder inside it.
    EXPECT_EQ(
        QDir(root.filePath(QStringLiteral("a/b"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList{QStringLiteral("UnZipDir")});
    EXPECT_TRUE(QDir(dest).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/abs.dat")));
}

TEST_F(HostileArchiveTest, RecreatedFoldersStayInsideTheUnpackFolder)
{
    QTemporaryDir root;
    const QString dest = root.filePath(QStringLiteral("UnZipDir"));
    const auto archive = [](const char* name) { return QDir(catalogue->path()).filePath(QString::fromLatin1(name)); };
    QString error;
    ASSERT_TRUE(UncompressFile(archive("member-folders.zip"), dest, true, Password, &error)) << error.toStdString();
    EXPECT_EQ(readFile(dest + QStringLiteral("/year/2019/y.dat")), QByteArray("deep"));
    ASSERT_TRUE(UncompressFile(archive("member-absolute.zip"), dest, true, Password, &error)) << error.toStdString();
    EXPECT_EQ(readFile(dest + QStringLiteral("/tmp/abs.dat")), QByteArray("absolute"));
    for (const char* name : {"member-dotdot.zip", "member-nested-dotdot.zip", "member-backslash.zip"}) {
        EXPECT_FALSE(UncompressFile(archive(name), dest, true, Password, &error)) << name;
        EXPECT_TRUE(error.contains(QStringLiteral("unsafe member name"))) << error.toStdString();
    }
    EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("UnZipDir")});
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, HostileArchiveTest,
    ::testing::Values(HostileCase{"member-dotdot.zip", true, "x.dat"},
                      HostileCase{"member-absolute.zip", true, "abs.dat"},
                      HostileCase{"member-nested-dotdot.zip", true, "x.dat"},
                      HostileCase{"member-backslash.zip", true, "x.dat"},
                      HostileCase{"member-folders.zip", true, "y.dat"},
                      HostileCase{"member-name-dotdot.zip", false, ""}, HostileCase{"member-name-dot.zip", false, ""},
                      HostileCase{"member-symlink.zip", false, ""}, HostileCase{"bomb-ratio.zip", false, ""},
                      HostileCase{"size-lie.zip", false, ""}, HostileCase{"name-gbk.zip", true, "工资数据.dat"}),
    [](const auto& param_info) {
        std::string name = param_info.param.archive;
        name = name.substr(0, name.size() - 4);
        for (char& ch : name)
            if (ch == '-')
                ch = '_';
        return name;
    });

TEST(ArchiveName, StampsKindYearAgentAndMilliseconds)
{
    const QDateTime when(QDate(2009, 1, 15), QTime(14, 30, 5, 123));
    EXPECT_EQ(BuildArchiveName(QStringLiteral("03"), QStringLiteral("2008"), QStringLiteral("3101"), when),
              QStringLiteral("个税代扣代缴备份文件2008年_3101_20090115143005123.zip"));
    EXPECT_EQ(BuildArchiveName(QStringLiteral("01"), QStringLiteral("2008"), QStringLiteral("a/b\\c"),
                               QDateTime(QDate(2009, 12, 1), QTime(3, 4, 5, 6))),
              QStringLiteral("采集端数据备份文件2008年_a_b_c_20091201030405006.zip"));

    // Two backups of the same year at different moments get different names.
    QDateTime now = when;
    SetArchiveClock([&now] { return now; });
    const QString first = BuildArchiveName(QStringLiteral("03"), QStringLiteral("2008"), QStringLiteral("3101"));
    now = now.addMSecs(1);
    const QString second = BuildArchiveName(QStringLiteral("03"), QStringLiteral("2008"), QStringLiteral("3101"));
    SetArchiveClock({});
    EXPECT_NE(first, second);
    EXPECT_TRUE(second.endsWith(QStringLiteral("20090115143005124.zip")));
}

} // namespace
