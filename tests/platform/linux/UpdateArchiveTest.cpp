// Unpacking and verifying downloaded updates: only one signed executable gets through.

#include "platform/linux/UpdateArchive.h"
#include "platform/linux/UpdateSignature.h"
#include "support/UpdateFeedKit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using zq::platform::unpackUpdateArchive;
using zq::platform::verifyEd25519Signature;
using zq::test::makeTarGz;
using zq::test::TarEntry;

namespace {

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
    QString destination = outer.filePath("unpacked");
    UnpackRig() { QDir().mkpath(destination); }
};

} // namespace

TEST(UpdateArchiveTest, TheOneExecutableIsUnpackedRunnable)
{
    UnpackRig rig;
    const QByteArray program("#!/bin/sh\necho 1.3.0\n");
    const auto result = unpackUpdateArchive(
        makeTarGz({{"./ZEPAquarn/", {}, '5', {}}, {"./ZEPAquarn/zepaquarn", program, '0', {}}}), rig.destination);
    ASSERT_TRUE(result.hasValue()) << qPrintable(result.error().domain);
    EXPECT_EQ(result.value(), rig.destination + "/ZEPAquarn/zepaquarn");
    QFile file(result.value());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), program);
    EXPECT_TRUE(file.permissions() & QFileDevice::ExeOwner);
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
        const auto result = unpackUpdateArchive(makeTarGz(entries), rig.destination);
        ASSERT_FALSE(result.hasValue()) << qPrintable(entries.front().name);
        EXPECT_EQ(result.error().message, "The downloaded update could not be unpacked.");
        const QStringList outside = everythingUnder(rig.outer.path()).filter(QRegularExpression("^(?!unpacked)"));
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
        EXPECT_FALSE(unpackUpdateArchive(bad, rig.destination).hasValue());
    }
}

TEST(UpdateArchiveTest, SignaturesMustMatchTheKeyAndEveryByte)
{
    const zq::test::Ed25519TestKey key;
    const zq::test::Ed25519TestKey otherKey;
    const QByteArray archive = makeTarGz({{"zepaquarn", "new build", '0', {}}});
    const QByteArray signature = key.signBase64(archive);
    EXPECT_TRUE(verifyEd25519Signature(archive, signature, key.publicKeyBase64()).hasValue());

    QByteArray tampered = archive;
    tampered[10] = static_cast<char>(tampered[10] ^ 1);
    const auto refused = verifyEd25519Signature(tampered, signature, key.publicKeyBase64());
    ASSERT_FALSE(refused.hasValue());
    EXPECT_EQ(refused.error().message, "The update's signature is not valid, so it was not installed.");
    EXPECT_FALSE(verifyEd25519Signature(archive, signature, otherKey.publicKeyBase64()).hasValue());
    EXPECT_FALSE(verifyEd25519Signature(archive + "x", signature, key.publicKeyBase64()).hasValue());
    EXPECT_FALSE(verifyEd25519Signature(archive, "", key.publicKeyBase64()).hasValue());
    EXPECT_FALSE(verifyEd25519Signature(archive, "not base64!", key.publicKeyBase64()).hasValue());
    EXPECT_FALSE(verifyEd25519Signature(archive, signature.left(40), key.publicKeyBase64()).hasValue());
    EXPECT_FALSE(verifyEd25519Signature(archive, signature, "").hasValue());
    EXPECT_FALSE(verifyEd25519Signature(archive, signature, QByteArray(44, 'A')).hasValue()) << "zero key";
}
