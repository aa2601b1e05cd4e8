// Unpacking and verifying downloaded updates: only one signed executable gets through, and no
// archive can fill memory.

#include "platform/linux/appcast/UpdateArchive.h"
#include "platform/linux/appcast/UpdateSignature.h"
#include "support/PeakMemory.h"
#include "support/UpdateFeedKit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using zq::platform::unpackUpdateArchive;
using zq::platform::updateSignatureStatement;
using zq::platform::verifyEd25519Signature;
using zq::test::makeTarGz;
using zq::test::TarEntry;

namespace {

constexpr qint64 kBound = 64 * 1024 * 1024;

QStringList everythingUnder(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

struct UnpackRig {
    QTemporaryDir outer;
    QString archive = outer.filePath("download.tar.gz");
    QString destination = outer.filePath("unpacked");
    UnpackRig() { QDir().mkpath(destination); }

    zq::rt::Result<QString> unpack(const QByteArray &bytes, qint64 bound = kBound)
    {
        EXPECT_TRUE(zq::test::writeArchive(archive, bytes));
        return unpackUpdateArchive(archive, destination, bound);
    }
};

QByteArray sha512(const QByteArray &data)
{
    zq::platform::Sha512Digest digest;
    digest.add(data.constData(), data.size());
    return digest.finish();
}

} // namespace

TEST(UpdateArchiveTest, TheOneExecutableIsUnpackedRunnable)
{
    UnpackRig rig;
    const QByteArray program("#!/bin/sh\necho 1.3.0\n");
    const auto result =
        rig.unpack(makeTarGz({{"./ZEPAquarn/", {}, '5', {}}, {"./ZEPAquarn/zepaquarn", program, '0', {}}}));
    ASSERT_TRUE(result.hasValue()) << qPrintable(result.error().domain);
    EXPECT_EQ(result.value(), rig.destination + "/ZEPAquarn/zepaquarn");
    QFile file(result.value());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), program);
    EXPECT_TRUE(file.permissions() & QFileDevice::ExeOwner);

    // Bigger than every buffer on the way, with a size that is no multiple of a tar block.
    UnpackRig big;
    QByteArray large(3 * 1024 * 1024 + 77, '\0');
    zq::test::fillIncompressible(0, large.data(), large.size());
    const auto unpacked = big.unpack(makeTarGz({{"zepaquarn", large, '0', {}}}));
    ASSERT_TRUE(unpacked.hasValue()) << qPrintable(unpacked.error().domain);
    QFile bigFile(unpacked.value());
    ASSERT_TRUE(bigFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(bigFile.readAll() == large);
}

TEST(UpdateArchiveTest, EntriesThatCouldLeaveTheFolderOrAreNotPlainFilesAreRefused)
{
    const std::vector<std::vector<TarEntry>> refused{
        {{"../zepaquarn", "evil", '0', {}}},
        {{"bin/../../zepaquarn", "evil", '0', {}}},
        {{"/tmp/zepaquarn", "evil", '0', {}}},
        {{"zepaquarn", {}, '2', "/usr/bin/sh"}},
        {{"zepaquarn", "x", '0', {}}, {"link", {}, '1', "zepaquarn"}},
        {{"fifo", {}, '6', {}}},
        {{"a", "1", '0', {}}, {"b", "2", '0', {}}},
        {{"dir", {}, '5', {}}},
        {{"zepaquarn", "x", '0', {}}, {"zepaquarn", "y", '0', {}}},
    };
    for (const auto &entries : refused) {
        UnpackRig rig;
        const auto result = rig.unpack(makeTarGz(entries));
        ASSERT_FALSE(result.hasValue()) << qPrintable(entries.front().name);
        EXPECT_EQ(result.error().message, "The downloaded update could not be unpacked.");
        const QStringList outside =
            everythingUnder(rig.outer.path()).filter(QRegularExpression("^(?!unpacked|download.tar.gz)"));
        EXPECT_TRUE(outside.isEmpty()) << qPrintable(outside.join(", "));
    }
}

TEST(UpdateArchiveTest, DamagedArchivesAreRefused)
{
    const QByteArray good = makeTarGz({{"zepaquarn", QByteArray(5000, 'z'), '0', {}}});
    QByteArray corrupted = good;
    corrupted[corrupted.size() / 2] = static_cast<char>(corrupted[corrupted.size() / 2] ^ 0x55);
    for (const QByteArray &bad :
         {QByteArray(), QByteArray("plain text, not gzip"), good.left(good.size() / 2), corrupted}) {
        UnpackRig rig;
        EXPECT_FALSE(rig.unpack(bad).hasValue());
    }
    UnpackRig missing;
    EXPECT_FALSE(unpackUpdateArchive(missing.archive, missing.destination, kBound).hasValue());
}

TEST(UpdateArchiveTest, ABombStopsAtTheBoundWithoutFillingMemory)
{
    // A gigabyte of zeros in a megabyte of gzip.
    UnpackRig rig;
    ASSERT_FALSE(zq::test::writeTarGzFile(
                     rig.archive, "zepaquarn", qint64(1) << 30,
                     [](qint64, char *piece, qint64 length) { std::memset(piece, 0, static_cast<size_t>(length)); }, 9)
                     .isEmpty());
    ASSERT_LT(QFileInfo(rig.archive).size(), 2 * 1024 * 1024);

    ASSERT_TRUE(zq::test::resetPeakMemory());
    const zq::test::MemoryUse before = zq::test::memoryUse();
    const auto result = unpackUpdateArchive(rig.archive, rig.destination, kBound);
    const zq::test::MemoryUse after = zq::test::memoryUse();
    ASSERT_FALSE(result.hasValue());
    EXPECT_EQ(result.error().domain, "too large");
    EXPECT_LT(after.peak - before.resident, 16 * 1024 * 1024) << "the unpacked bytes went to disk, not memory";
    qint64 written = 0;
    for (const QString &entry : everythingUnder(rig.destination))
        written += QFileInfo(QDir(rig.destination).filePath(entry)).size();
    EXPECT_LE(written, kBound) << "and no more of them than the bound";
}

TEST(UpdateArchiveTest, TheSignatureCoversTheAnnouncedBuildVersionAndEveryByte)
{
    const zq::test::Ed25519TestKey key;
    const zq::test::Ed25519TestKey otherKey;
    const QByteArray archive = makeTarGz({{"zepaquarn", "new build", '0', {}}});
    const QByteArray signature = key.signUpdate(archive, "5", "1.3.0");
    const auto statement = [&](const QByteArray &bytes, const QString &build, const QString &version) {
        return updateSignatureStatement(build, version, sha512(bytes));
    };
    EXPECT_TRUE(verifyEd25519Signature(statement(archive, "5", "1.3.0"), signature, key.publicKeyBase64()).hasValue());
    EXPECT_EQ(statement(archive, "5", "1.3.0"),
              "zepaquarn-update-v1\nbuild 5\nversion 1.3.0\nsha512 " + sha512(archive).toHex() + "\n");

    QByteArray tampered = archive;
    tampered[10] = static_cast<char>(tampered[10] ^ 1);
    const auto refused = verifyEd25519Signature(statement(tampered, "5", "1.3.0"), signature, key.publicKeyBase64());
    ASSERT_FALSE(refused.hasValue());
    EXPECT_EQ(refused.error().message, "The update's signature is not valid, so it was not installed.");

    struct Case {
        const char *what;
        QByteArray data;
        QByteArray signature;
        QByteArray key;
    };
    const std::vector<Case> cases{
        {"another build announced", statement(archive, "6", "1.3.0"), signature, key.publicKeyBase64()},
        {"another version announced", statement(archive, "5", "1.4.0"), signature, key.publicKeyBase64()},
        {"another key", statement(archive, "5", "1.3.0"), signature, otherKey.publicKeyBase64()},
        {"a byte more", statement(archive + "x", "5", "1.3.0"), signature, key.publicKeyBase64()},
        {"the archive's own signature", statement(archive, "5", "1.3.0"), key.signBase64(archive),
         key.publicKeyBase64()},
        {"no signature", statement(archive, "5", "1.3.0"), "", key.publicKeyBase64()},
        {"not base64", statement(archive, "5", "1.3.0"), "not base64!", key.publicKeyBase64()},
        {"short signature", statement(archive, "5", "1.3.0"), signature.left(40), key.publicKeyBase64()},
        {"no key", statement(archive, "5", "1.3.0"), signature, ""},
        {"zero key", statement(archive, "5", "1.3.0"), signature, QByteArray(44, 'A')},
    };
    for (const Case &c : cases) {
        const auto checked = verifyEd25519Signature(c.data, c.signature, c.key);
        ASSERT_FALSE(checked.hasValue()) << c.what;
        EXPECT_EQ(checked.error().message, refused.error().message) << c.what;
    }
}

TEST(UpdateArchiveTest, TheDigestIsSha512FedInPiecesAndStartsOverAfterEachFinish)
{
    // The release tooling signs the standard digest: FIPS 180-2's example of "abc".
    const QByteArray abc = "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                           "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";
    zq::platform::Sha512Digest digest;
    digest.add("a", 1);
    digest.add("bc", 2);
    EXPECT_EQ(digest.finish().toHex(), abc);
    digest.add("abc", 3);
    EXPECT_EQ(digest.finish().toHex(), abc);
}
