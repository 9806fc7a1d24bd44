#include "screens/TreeChecks.h"
#include "tests/screens/PreviewTesting.h"
#include "tests/support/TestMain.h"

#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace PreviewTesting;

namespace {

int nodeAt(const ArchiveTree& tree, const QString& path)
{
    for (int n = 1; n < tree.nodeCount(); ++n) {
        if (tree.path(n) == path)
            return n;
    }
    return -1;
}

} // namespace

// The tree, ticks and filter of archives made by the real tools and listed
// by the engine.
class ArchiveTreeTest final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // `source`: names for a zip made here, or one fixture's file name.
    std::shared_ptr<const ArchiveTree> treeOf(const QStringList& source)
    {
        QString archive;
        if (source.size() == 1 && source.first().startsWith(u"fixture:"_s)) {
            archive = QStringLiteral(ZAVRIN_FIXTURES_DIR "/") + source.first().mid(8);
        } else {
            archive = m_dir.filePath(u"made-%1.zip"_s.arg(++m_made));
            if (!pythonZip(archive, source))
                return nullptr;
        }
        return ArchiveTree::build(listed(archive));
    }
    int m_made = 0;

private slots:
    void treeOfListings_data()
    {
        QTest::addColumn<QStringList>("source");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("implied folders") << QStringList { u"a/b/c.txt"_s, u"a/d.txt"_s,
            u"e.txt"_s } << QStringList { u"a/ ~"_s, u"  b/ ~"_s, u"    c.txt"_s, u"  d.txt"_s, u"e.txt"_s };
        QTest::newRow("folder listed after its files") << QStringList { u"x/1.txt"_s, u"y/2.txt"_s,
            u"x/"_s } << QStringList { u"x/"_s, u"  1.txt"_s, u"y/ ~"_s, u"  2.txt"_s };
        QTest::newRow("duplicate names") << QStringList { u"same.txt"_s, u"d/"_s, u"same.txt"_s, u"d/"_s, u"d/in"_s }
                                         << QStringList { u"d/"_s, u"  in"_s, u"same.txt"_s, u"same.txt"_s };
        QTest::newRow("names that differ in case")
            << QStringList { u"readme"_s, u"README"_s, u"Readme"_s, u"dir/b"_s, u"Dir/a"_s, u"B.txt"_s }
            << QStringList { u"Dir/ ~"_s, u"  a"_s, u"dir/ ~"_s, u"  b"_s, u"B.txt"_s, u"README"_s, u"Readme"_s,
                   u"readme"_s };
        QTest::newRow("a file and a folder of one name")
            << QStringList { u"n"_s, u"n/inner"_s } << QStringList { u"n/ ~"_s, u"  inner"_s, u"n"_s };
        QTest::newRow("GBK names") << QStringList { u"fixture:legacy-gbk.zip"_s }
                                   << QStringList { u"新建文件夹/"_s, u"  说明.txt"_s, u"报告.docx"_s };
        const QStringList plain { u"dir/"_s, u"  nested.txt"_s, u"empty-dir/"_s, u"empty.txt"_s, u"hello.txt"_s,
            u"link"_s, u"setuid.bin"_s, u"tool.sh"_s, u"中文名.txt"_s };
        for (const char* format : { "zip", "rar", "7z" })
            QTest::newRow(qPrintable(u"links, "_s + QLatin1String(format)))
                << QStringList { u"fixture:plain."_s + QLatin1String(format) } << plain;
    }
    void treeOfListings()
    {
        QFETCH(QStringList, source);
        QFETCH(QStringList, expected);
        const auto tree = treeOf(source);
        QVERIFY(tree);
        QCOMPARE(lines(*tree), expected);
        // Every entry is shown as a node of its own name (folders end in
        // "/" whether listed so or not); a link as a link.
        const ArchiveListing& listing = tree->listing();
        const auto bare = [](QString path) { return path.endsWith(u'/') ? path.chopped(1) : path; };
        for (qsizetype e = 0; e < listing.size(); ++e)
            QCOMPARE(bare(tree->path(tree->nodeOfEntry(e))), bare(listing.path(e)));
        const int link = nodeAt(*tree, u"link"_s);
        if (link > 0)
            QCOMPARE(listing.kind(tree->entry(link)), ArchiveEntry::Kind::Link);
        // Depth first: a node's parent comes before it, its subtree right after.
        for (int n = 1; n < tree->nodeCount(); ++n) {
            const int up = tree->parent(n);
            QVERIFY(up < n && tree->subtreeEnd(up) >= tree->subtreeEnd(n));
            QCOMPARE(tree->child(up, tree->row(n)), n);
        }
    }

    // Ticks of folders reach everything below and tell every folder above;
    // a folder's entries go with anything ticked below them.
    void ticksMakeTheSelection_data()
    {
        QTest::addColumn<QStringList>("changes"); // "-path" unticks, "+path" ticks
        QTest::addColumn<QStringList>("states"); // path=0|1|2 (unchecked, partly, checked)
        QTest::addColumn<QStringList>("chosen"); // entries selected, by listed name; "all": no selection
        QTest::newRow("all ticked") << QStringList() << QStringList { u"a/=2"_s, u"a/b/=2"_s }
                                    << QStringList { u"all"_s };
        QTest::newRow("one folder off") << QStringList { u"-a/b/"_s }
                                        << QStringList { u"a/=1"_s, u"a/b/=0"_s, u"a/b/c.txt=0"_s }
                                        << QStringList { u"a/d.txt"_s, u"a/"_s, u"a/"_s, u"e.txt"_s };
        QTest::newRow("a file back in an empty tree")
            << QStringList { u"-a/"_s, u"-e.txt"_s, u"+a/b/c.txt"_s }
            << QStringList { u"a/=1"_s, u"a/b/=2"_s, u"a/d.txt=0"_s, u"e.txt=0"_s }
            << QStringList { u"a/b/c.txt"_s, u"a/"_s, u"a/"_s };
        QTest::newRow("all off, all on") << QStringList { u"-a/"_s, u"-e.txt"_s, u"+a/"_s, u"+e.txt"_s }
                                         << QStringList { u"a/=2"_s } << QStringList { u"all"_s };
        QTest::newRow("nothing") << QStringList { u"-a/"_s, u"-e.txt"_s } << QStringList { u"a/=0"_s } << QStringList();
    }
    void ticksMakeTheSelection()
    {
        QFETCH(QStringList, changes);
        QFETCH(QStringList, states);
        QFETCH(QStringList, chosen);
        // "a/" is listed twice; "a/b/" only implied.
        const auto tree = treeOf({ u"a/b/c.txt"_s, u"a/"_s, u"a/d.txt"_s, u"e.txt"_s, u"a/"_s });
        QVERIFY(tree);
        TreeChecks checks(tree);
        for (const QString& change : changes)
            checks.set(nodeAt(*tree, change.mid(1)), change.startsWith(u'+'));
        for (const QString& state : states) {
            const QStringList parts = state.split(u'=');
            QCOMPARE(static_cast<int>(checks.state(nodeAt(*tree, parts[0]))), parts[1].toInt());
        }
        const std::optional<std::vector<bool>> selection = checks.selection();
        QStringList names;
        if (!selection)
            names << u"all"_s;
        for (std::size_t e = 0; selection && e < selection->size(); ++e) {
            if ((*selection)[e])
                names << tree->listing().path(static_cast<qsizetype>(e));
        }
        names.sort();
        chosen.sort();
        QCOMPARE(names, chosen);
        QCOMPARE(checks.noneTicked(), chosen.isEmpty());
    }

    // A name holding the text shows with its folders; a folder's name, with
    // everything in it.
    void filterShowsMatchesWithTheirFolders_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("file deep down") << u"REPORT"_s
                                        << QStringList { u"docs/ ~"_s, u"  2024/ ~"_s, u"    Report.pdf"_s };
        QTest::newRow("folder") << u"photo"_s << QStringList { u"Photos/ ~"_s, u"  a.jpg"_s, u"  b.jpg"_s };
        QTest::newRow("Chinese") << u"说明"_s << QStringList { u"说明.txt"_s };
        QTest::newRow("nothing") << u"zzz"_s << QStringList();
    }
    void filterShowsMatchesWithTheirFolders()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        const auto tree = treeOf({ u"docs/2024/Report.pdf"_s, u"docs/2024/notes.txt"_s, u"Photos/a.jpg"_s,
            u"Photos/b.jpg"_s, u"说明.txt"_s });
        QVERIFY(tree);
        const auto filter = TreeFilter::make(tree, text);
        QCOMPARE(lines(*tree, filter.get()), expected);
    }
};

ZAVRIN_TEST(ArchiveTreeTest)
#include "tst_archivetree.moc"
