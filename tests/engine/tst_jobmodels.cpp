#include "engine/JobModels.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class JobModelsTest final : public QObject {
    Q_OBJECT

private slots:
    // The sheet's level reaches the engine as this choice alone.
    void onlyLevelOneNeedsSpeed()
    {
        ZipModel zip;
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
