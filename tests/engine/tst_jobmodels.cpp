#include "engine/JobModels.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class JobModelsTest final : public QObject {
    Q_OBJECT

private slots:
    void jobKeys()
    {
        UnzipModel unzip;
        unzip.paths = { QStringLiteral("/in/a.zip") };
        unzip.savePath = QStringLiteral("/out");
        QCOMPARE(unzip.jobKey(), QStringLiteral("/in/a.zip"));

        ZipModel zip;
        zip.paths = { QStringLiteral("/in/a"), QStringLiteral("/in/b") };
        zip.savePath = QStringLiteral("/out/Archive.zip");
        QCOMPARE(zip.jobKey(), QStringLiteral("/out/Archive.zip"));
        QVERIFY(!zip.password.has_value());
        QVERIFY(zip.needSpeed());
        zip.level = 9;
        QVERIFY(!zip.needSpeed());
    }

    void fileModelReadsTheFileSystemOnEveryAccess()
    {
        QTemporaryDir dir;
        FileModel file(dir.filePath(QStringLiteral("grows.txt")));
        QCOMPARE(file.size(), 0u);
        QVERIFY(!file.date().has_value());

        QFile out(file.path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("hello");
        out.close();
        QCOMPARE(file.size(), 5u);
        QVERIFY(file.date().has_value());

        QVERIFY(out.open(QIODevice::Append));
        out.write(" world");
        out.close();
        QCOMPARE(file.size(), 11u);

        FileModel missing(dir.filePath(QStringLiteral("nothing/here")));
        QCOMPARE(missing.size(), 0u);
        QVERIFY(!missing.date().has_value());
    }
};

ZAVRIN_TEST(JobModelsTest)
#include "tst_jobmodels.moc"
