#include "platform/Bundle.h"
#include "screens/CompressionChoice.h"
#include "screens/ProgressController.h"
#include "screens/ZipController.h"
#include "tests/support/HomeFixture.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

using namespace Qt::StringLiterals;

// What each option of the compression sheet makes, from the home window
// through the real engine, read back by other tools: speed and size make
// zip at deflate level 1 and 9, the custom panel its format and mode.
class CompressionRoutesTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<HomeFixture> m_fixture;
    std::unique_ptr<QTemporaryDir> m_dir;

    MainController* home() const { return m_fixture->home(); }
    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    void init()
    {
        CompressionChoice::remember({});
        m_dir = std::make_unique<QTemporaryDir>();
        m_fixture = std::make_unique<HomeFixture>();
        QVERIFY(QTest::qWaitForWindowActive(m_fixture->window()));
    }
    void cleanup()
    {
        CompressionChoice::remember({}); // for the suites that follow
        m_fixture.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void eachOptionMakesItsArchive_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("format"); // the custom panel's
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("password"); // empty: none
        QTest::newRow("speed: zip, level 1") << u"speedBtn"_s << u"7z"_s << u"Maximum"_s << QString();
        QTest::newRow("size: zip, level 9") << u"sizeBtn"_s << u"7z"_s << u"Maximum"_s << QString();
        QTest::newRow("custom zip, stored") << u"customBtn"_s << u"zip"_s << u"Store only"_s << QString();
        QTest::newRow("custom 7z, password") << u"customBtn"_s << u"7z"_s << u"Fastest"_s << u"p w"_s;
        QTest::newRow("custom tar.zst") << u"customBtn"_s << u"tar.zst"_s << u"Maximum"_s << QString();
        QTest::newRow("custom tar.gz") << u"customBtn"_s << u"tar.gz"_s << u"Normal"_s << QString();
    }
    void eachOptionMakesItsArchive()
    {
        QFETCH(QString, option);
        QFETCH(QString, format);
        QFETCH(QString, mode);
        QFETCH(QString, password);
        QVERIFY(ZipInspection::writeFile(path(u"in/a.txt"_s), "alpha\n"));
        QVERIFY(ZipInspection::writeFile(path(u"in/sub/b.txt"_s), QByteArray(100000, 'b')));
        home()->showZip({ QUrl::fromLocalFile(path(u"in/a.txt"_s)), QUrl::fromLocalFile(path(u"in/sub"_s)) });
        ZipController* setup = home()->zipVc();
        QVERIFY(setup->isPresented());
        outlet<QAbstractButton>(setup, "customBtn")->click();
        auto* formats = outlet<QComboBox>(setup, "formatMenu");
        formats->setCurrentIndex(formats->findText(format));
        auto* modes = outlet<QComboBox>(setup, "modeMenu");
        modes->setCurrentIndex(modes->findText(mode));
        outlet<QAbstractButton>(setup, option.toLatin1().constData())->click();
        if (!password.isEmpty()) {
            outlet<QAbstractButton>(setup, "addPasswordBtn")->click();
            outlet<QLineEdit>(setup, "passwordTf")->setText(password);
            outlet<QLineEdit>(setup, "password2Tf")->setText(password);
        }
        const bool custom = option == u"customBtn"_s;
        const QString archive = path(u"out/new."_s + (custom ? format : u"zip"_s));
        QDir().mkpath(path(u"out"_s));
        m_fixture->panels.queueSave(archive);
        outlet<QPushButton>(setup, "zipBtn")->click();

        ProgressController* progress = home()->progressVc();
        QTRY_VERIFY(progress->isPresented());
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isPresented(), 30000);
        QCOMPARE(outlet<QLabel>(progress, "tipTf")->text(), L(u"压缩完成"_s));
        QCOMPARE(
            QDir(path(u"out"_s)).entryList(QDir::Files | QDir::Hidden), QStringList { QFileInfo(archive).fileName() });

        const QString back = path(u"back"_s);
        if (format == u"7z"_s && custom) {
            // The names are encrypted too: nothing is listed without the password.
            QVERIFY(!ZipInspection::sevenZip({ u"l"_s, u"-p"_s, archive }));
            QVERIFY(ZipInspection::sevenZipExtract(archive, back, password));
        } else if (format.startsWith(u"tar"_s) && custom) {
            QDir().mkpath(back);
            QCOMPARE(QProcess::execute(u"tar"_s, { u"-xf"_s, archive, u"-C"_s, back }), 0);
        } else {
            // Deflate's level shows in the entry's flags: 4 for the fast
            // levels, 2 for the strongest; a stored entry has method 0.
            const QJsonObject big = ZipInspection::entries(archive).value(u"sub/b.txt"_s);
            const int flags = big[u"flags"_s].toInt() & 0x6;
            const int method = big[u"method"_s].toInt();
            if (option == u"speedBtn"_s)
                QVERIFY(method == 8 && flags == 0x4);
            else if (option == u"sizeBtn"_s)
                QVERIFY(method == 8 && flags == 0x2);
            else
                QCOMPARE(method, 0);
            QVERIFY(ZipInspection::sevenZipExtract(archive, back));
        }
        QCOMPARE(ZipInspection::readFile(back + u"/a.txt"_s), QByteArray("alpha\n"));
        QCOMPARE(ZipInspection::readFile(back + u"/sub/b.txt"_s), QByteArray(100000, 'b'));
    }
};

ZAVRIN_TEST(CompressionRoutesTest)
#include "tst_compressionroutes.moc"
