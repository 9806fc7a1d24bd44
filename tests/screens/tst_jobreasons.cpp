#include "engine/JobReasons.h"
#include "platform/Bundle.h"
#include "tests/support/TestMain.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {
// Every status a job can end with, as "Zavrin.JobDidEnd" names it.
const QStringList kStatuses { u"Done"_s, u"Kept"_s, u"Blocked"_s, u"Failed"_s, u"WrongPassword"_s,
    u"WrongPasswordOrDamage"_s, u"Cancelled"_s, u"NoSpace"_s, u"NothingToPack"_s, u"NameTaken"_s, u"Usage"_s,
    u"NotAnArchive"_s, u"Damaged"_s, u"Unsafe"_s, u"NoPermission"_s, u"MissingPart"_s, u"Changed"_s,
    u"PasswordUnconfirmed"_s, u"Unsupported"_s };
} // namespace

// The one table from a job's status to the words the window and the
// command line show.
class JobReasonsTest final : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Bundle::setPreferredLanguages({}); }

    // Each status but Done has its own text in each table; a table that
    // lacks a row would show the Chinese key, which the English and the
    // traditional tables never do.
    void everyStatusHasItsOwnTextInEveryLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::newRow("zh_CN") << u"zh-CN"_s;
        QTest::newRow("zh_TW") << u"zh-TW"_s;
        QTest::newRow("en") << u"en-US"_s;
    }
    void everyStatusHasItsOwnTextInEveryLanguage()
    {
        QFETCH(QString, language);
        Bundle::setPreferredLanguages({ language });
        QSet<QString> texts;
        for (const QString& name : kStatuses) {
            const std::optional<Outcome::Status> status = Outcome::statusFromName(name);
            QVERIFY2(status, qPrintable(name));
            const QString key = JobReasons::key(*status);
            const QString text = JobReasons::text(name, QString());
            if (name == u"Done"_s) {
                QVERIFY(key.isEmpty() && text.isEmpty());
                continue;
            }
            QVERIFY2(!text.isEmpty(), qPrintable(name));
            QCOMPARE(text, L(key));
            if (Bundle::preferredLocalization() != u"zh_CN"_s)
                QVERIFY2(text != key, qPrintable(name + u": no row in the table"_s));
            texts.insert(text);
        }
        QCOMPARE(texts.size(), kStatuses.size() - 1);
    }

    void namesTheSubjectAndKnowsOnlyKnownStatuses_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("text");
        QTest::newRow("not an archive") << u"NotAnArchive"_s << u"a <b>.zip"_s << u"a <b>.zip: Not a valid archive"_s;
        QTest::newRow("no subject") << u"NoSpace"_s << QString() << u"The disk is full"_s;
        QTest::newRow("unknown status") << u"Exploded"_s << u"a.zip"_s << QString();
        QTest::newRow("no status") << QString() << u"a.zip"_s << QString();
        QTest::newRow("success") << u"Done"_s << u"a.zip"_s << QString();
    }
    void namesTheSubjectAndKnowsOnlyKnownStatuses()
    {
        QFETCH(QString, status);
        QFETCH(QString, subject);
        QFETCH(QString, text);
        Bundle::setPreferredLanguages({ u"en"_s });
        QCOMPARE(JobReasons::text(status, subject), text);
    }
};

ZAVRIN_TEST(JobReasonsTest)
#include "tst_jobreasons.moc"
