#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/RouterManager.h"
#include "platform/StoreReview.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>

using namespace Qt::StringLiterals;

class PlatformTest final : public QObject {
    Q_OBJECT

private slots:
    void notificationsRunOnThePostingThread()
    {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        QObject context;
        QList<Qt::HANDLE> threads;
        QVariantMap received;
        center.addObserver(u"test.sameThread"_s, &context, [&](const Notification& n) {
            threads.append(QThread::currentThreadId());
            received = n.object;
        });

        center.post(u"test.sameThread"_s, { { u"path"_s, u"/a.zip"_s } });
        QCOMPARE(threads.size(), 1); // synchronous
        QCOMPARE(threads.first(), QThread::currentThreadId());
        QCOMPARE(received.value(u"path"_s).toString(), u"/a.zip"_s);

        std::unique_ptr<QThread> worker(QThread::create([&center] {
            center.post(u"test.sameThread"_s, { { u"progress"_s, 0.5 } });
        }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QCOMPARE(threads.size(), 2);
        QVERIFY(threads.last() != QThread::currentThreadId());

        center.post(u"test.otherName"_s);
        QCOMPARE(threads.size(), 2);
    }

    void observersEndWithTheirContext()
    {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        int calls = 0;
        {
            QObject context;
            center.addObserver(u"test.context"_s, &context, [&](const Notification&) { ++calls; });
            center.post(u"test.context"_s);
        }
        center.post(u"test.context"_s);
        QCOMPARE(calls, 1);

        const auto token = center.addObserver(u"test.context"_s, nullptr, [&](const Notification&) { ++calls; });
        center.removeObserver(token);
        center.post(u"test.context"_s);
        QCOMPARE(calls, 1);
    }

    // Once removeObserver returns, no handler of that observer is running on
    // any thread; a handler may still remove its own observer.
    void removalWaitsForARunningHandler()
    {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        std::atomic<bool> entered { false };
        std::atomic<bool> finished { false };
        const auto token = center.addObserver(u"test.slow"_s, nullptr, [&](const Notification&) {
            entered = true;
            QThread::msleep(300);
            finished = true;
        });
        std::unique_ptr<QThread> worker(QThread::create([&center] { center.post(u"test.slow"_s); }));
        worker->start();
        QTRY_VERIFY(entered);
        center.removeObserver(token);
        QVERIFY(finished);
        QVERIFY(worker->wait(5000));

        NotificationCenter::Token self = 0;
        int calls = 0;
        self = center.addObserver(u"test.self"_s, nullptr, [&](const Notification&) {
            ++calls;
            center.removeObserver(self);
        });
        center.post(u"test.self"_s);
        center.post(u"test.self"_s);
        QCOMPARE(calls, 1);
    }

    void languageChoice_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("text");
        QTest::newRow("simplified") << QStringList { u"zh-CN"_s } << u"zh_CN"_s << u"解压完成"_s;
        QTest::newRow("plain zh") << QStringList { u"zh"_s } << u"zh_CN"_s << u"解压完成"_s;
        QTest::newRow("traditional") << QStringList { u"zh-TW"_s } << u"zh_TW"_s << u"解壓縮完成"_s;
        QTest::newRow("hant script") << QStringList { u"zh-Hant-HK"_s } << u"zh_TW"_s << u"解壓縮完成"_s;
        QTest::newRow("english") << QStringList { u"en-GB"_s } << u"en"_s << u"Extraction complete"_s;
        QTest::newRow("first match wins")
            << QStringList { u"de-DE"_s, u"zh-TW"_s, u"en"_s } << u"zh_TW"_s << u"解壓縮完成"_s;
        QTest::newRow("unshipped") << QStringList { u"fr-FR"_s } << u"en"_s << u"Extraction complete"_s;
    }

    void languageChoice()
    {
        QFETCH(QStringList, languages);
        QFETCH(QString, table);
        QFETCH(QString, text);
        Bundle::setPreferredLanguages(languages);
        QCOMPARE(Bundle::preferredLocalization(), table);
        QCOMPARE(L(u"解压完成"_s), text);
        Bundle::setPreferredLanguages({});
    }

    void missingKeyIsItsOwnText()
    {
        Bundle::setPreferredLanguages({ u"en"_s });
        QCOMPARE(L(u"没有这个键"_s), u"没有这个键"_s);
        QCOMPARE(L(u"Zavrin"_s), u"Zavrin"_s);
        Bundle::setPreferredLanguages({});
    }

    // The compiled tables give every row of strings.tsv in its language.
    void everyTableTranslatesEveryKey()
    {
        QFile rows(QStringLiteral(ZAVRIN_STRINGS_TSV));
        QVERIFY(rows.open(QIODevice::ReadOnly | QIODevice::Text));
        int checked = 0;
        while (!rows.atEnd()) {
            const QString line = QString::fromUtf8(rows.readLine()).chopped(1);
            if (line.trimmed().isEmpty() || line.startsWith(u'#'))
                continue;
            const QStringList columns = line.split(u'\t'); // key, en, zh_TW
            QCOMPARE(columns.size(), 3);
            const std::pair<QString, QString> tables[]
                = { { u"zh-CN"_s, columns[0] }, { u"en"_s, columns[1] }, { u"zh-TW"_s, columns[2] } };
            for (const auto& [language, translation] : tables) {
                Bundle::setPreferredLanguages({ language });
                QCOMPARE(L(columns[0]), translation);
            }
            ++checked;
        }
        Bundle::setPreferredLanguages({});
        QVERIFY(checked > 50);
    }

    void reviewIsRequestedOncePerInstallationAndVersion()
    {
        Defaults::standard().remove(u"app.HasRateKey"_s);
        Defaults::standard().remove(u"app.VersionRateDicKey"_s);
        const int before = StoreReview::requestCount();
        RouterManager::showRateAllLife();
        RouterManager::showRateAllLife();
        QCOMPARE(StoreReview::requestCount(), before + 1);
        QVERIFY(Defaults::standard().boolForKey(u"app.HasRateKey"_s));

        // A stored entry counts whatever its value; other versions stay.
        Defaults::standard().setValue(
            u"app.VersionRateDicKey"_s, QVariantMap { { u"0.9"_s, true }, { Bundle::shortVersion(), false } });
        RouterManager::showRatedThisVersion();
        QCOMPARE(StoreReview::requestCount(), before + 1);
        Defaults::standard().setValue(u"app.VersionRateDicKey"_s, QVariantMap { { u"0.9"_s, true } });
        RouterManager::showRatedThisVersion();
        RouterManager::showRatedThisVersion();
        QCOMPARE(StoreReview::requestCount(), before + 2);
        const QVariantMap versions = Defaults::standard().mapForKey(u"app.VersionRateDicKey"_s);
        QCOMPARE(versions.size(), 2);
        QVERIFY(versions.value(Bundle::shortVersion()).toBool());
    }
};

ZAVRIN_TEST(PlatformTest)
#include "tst_platform.moc"
