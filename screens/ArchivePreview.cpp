#include "screens/ArchivePreview.h"

#include "engine/ArchiveListing.h"
#include "platform/Bundle.h"
#include "platform/MainQueue.h"
#include "screens/ArchiveTreeModel.h"
#include "screens/EntryOpener.h"
#include "screens/ItemSummary.h"
#include "screens/ListingLoader.h"
#include "screens/Outlet.h"
#include "ui/SheetStyle.h"
#include "ui/Styling.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kTreeWidth = 176 * SheetStyle::kGrid;
constexpr int kTreeHeight = 72 * SheetStyle::kGrid;
// Filters that show up to this many rows open every folder.
constexpr int kExpandAllUpTo = 2000;

} // namespace

ArchivePreview::ArchivePreview(QWidget* parent)
    : QWidget(parent)
    , m_loader(new ListingLoader(this))
    , m_model(new ArchiveTreeModel(this))
    , m_opener(new EntryOpener(this))
    , m_filterDelay(new QTimer(this))
    , m_busyDelay(new QTimer(this))
{
    setObjectName(QStringLiteral("archivePreview"));
    buildView();
    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(150);
    m_busyDelay->setSingleShot(true);
    m_busyDelay->setInterval(200);
    connect(m_busyDelay, &QTimer::timeout, previewBusy, &QWidget::show);
    connect(m_filterDelay, &QTimer::timeout, this, &ArchivePreview::filterNow);
    connect(filterTf, &QLineEdit::textChanged, this, [this] {
        // Small trees follow every key; big ones wait for a pause in typing.
        const auto& tree = m_model->tree();
        if (tree && tree->nodeCount() <= kFilterInline)
            filterNow();
        else
            m_filterDelay->start();
    });
    connect(m_loader, &ListingLoader::stateChanged, this, &ArchivePreview::onLoaderChanged);
    connect(previewTree, &QTreeView::doubleClicked, this, &ArchivePreview::openRow);
    connect(previewTree->verticalScrollBar(), &QScrollBar::valueChanged, this, &ArchivePreview::fetchBelowViewport);
    connect(previewTree, &QTreeView::expanded, this, &ArchivePreview::fetchBelowViewport);
    previewTree->installEventFilter(this);
    filterTf->installEventFilter(this);
    international();
    onLoaderChanged();
}

void ArchivePreview::buildView()
{
    // Made in tab order: the filter, then the tree.
    filterTf = Outlet::make<QLineEdit>(this, "filterTf");
    auto* pageHolder = new QWidget(this);
    previewTree = Outlet::make<QTreeView>(pageHolder, "previewTree");
    auto* statusPage = new QWidget(pageHolder);
    statusPage->setObjectName(QStringLiteral("previewStatusPage"));
    summaryLab = Outlet::make<QLabel>(this, "summaryLab");
    previewStatusLab = Outlet::make<QLabel>(statusPage, "previewStatusLab");
    previewBusy = Outlet::make<QProgressBar>(statusPage, "previewBusy");

    SheetStyle::styleField(filterTf);
    filterTf->setClearButtonEnabled(true);
    previewTree->setModel(m_model);
    previewTree->setMinimumSize(kTreeWidth, kTreeHeight);
    previewTree->setUniformRowHeights(true);
    previewTree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    previewTree->setAllColumnsShowFocus(true);
    previewTree->setTextElideMode(Qt::ElideMiddle);
    previewTree->setStyleSheet(QStringLiteral("#previewTree{border:1px solid #DDDDDD;border-radius:4px;}"));
    QHeaderView* header = previewTree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(ArchiveTreeModel::Name, QHeaderView::Stretch);
    header->setSectionsMovable(false);
    statusPage->setStyleSheet(
        QStringLiteral("#previewStatusPage{border:1px solid #DDDDDD;border-radius:4px;background:white;}"));
    previewStatusLab->setAlignment(Qt::AlignCenter);
    previewStatusLab->setWordWrap(true);
    previewBusy->setRange(0, 0);
    previewBusy->setTextVisible(false);
    previewBusy->setFixedSize(40 * SheetStyle::kGrid, SheetStyle::kGrid);
    previewBusy->hide();
    summaryLab->setTextFormat(Qt::PlainText);
    QPalette quiet = summaryLab->palette();
    quiet.setColor(QPalette::WindowText, Palette::text2());
    summaryLab->setPalette(quiet);

    auto* statusColumn = new QVBoxLayout(statusPage);
    statusColumn->addStretch(1);
    statusColumn->addWidget(previewStatusLab);
    statusColumn->addWidget(previewBusy, 0, Qt::AlignHCenter);
    statusColumn->addStretch(1);
    m_pages = new QStackedLayout(pageHolder);
    m_pages->addWidget(previewTree);
    m_pages->addWidget(statusPage);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2 * SheetStyle::kGrid);
    column->addWidget(filterTf);
    column->addWidget(pageHolder, 1);
    column->addWidget(summaryLab);
}

ArchivePreview::~ArchivePreview() = default;

void ArchivePreview::international()
{
    filterTf->setPlaceholderText(L(QStringLiteral("按名称筛选")));
    filterTf->setAccessibleName(L(QStringLiteral("按名称筛选")));
    previewTree->setAccessibleName(L(QStringLiteral("文档预览")));
    previewBusy->setAccessibleName(L(QStringLiteral("正在读取文件列表…")));
}

void ArchivePreview::load(const QString& archive)
{
    m_loader->load(archive);
}

void ArchivePreview::clear()
{
    m_filterStop.request();
    m_loader->cancel();
    filterTf->clear();
}

void ArchivePreview::showListing(const QString& archive, std::shared_ptr<const ArchiveListing> listing)
{
    m_loader->setListing(archive, std::move(listing));
}

bool ArchivePreview::isLoaded() const
{
    return m_loader->state() == ListingLoader::State::Loaded && m_model->checks();
}

bool ArchivePreview::noneTicked() const
{
    return isLoaded() && m_model->checks()->noneTicked();
}

std::optional<std::vector<bool>> ArchivePreview::selection() const
{
    return isLoaded() ? m_model->checks()->selection() : std::nullopt;
}

std::optional<QString> ArchivePreview::password() const
{
    return m_loader->password();
}

void ArchivePreview::onLoaderChanged()
{
    m_busyDelay->stop();
    previewBusy->hide();
    const ListingLoader::State state = m_loader->state();
    const bool loaded = state == ListingLoader::State::Loaded;
    const std::shared_ptr<const ArchiveTree> tree = loaded ? m_loader->tree() : nullptr;
    if (m_model->tree() != tree)
        m_model->setTree(tree);
    filterTf->setEnabled(loaded);
    switch (state) {
    case ListingLoader::State::Loading:
        previewStatusLab->setText(L(QStringLiteral("正在读取文件列表…")));
        m_busyDelay->start();
        break;
    case ListingLoader::State::NeedsPassword:
        previewStatusLab->setText(L(QStringLiteral("需要密码才能显示内容")));
        break;
    case ListingLoader::State::Failed:
        previewStatusLab->setText(L(QStringLiteral("无法读取文件列表")));
        break;
    case ListingLoader::State::Idle:
    case ListingLoader::State::Loaded:
        previewStatusLab->clear();
        break;
    }
    m_pages->setCurrentIndex(loaded ? 0 : 1);
    updateSummary();
    if (!loaded)
        return;
    // The size columns fit their widest text; the name takes the rest.
    const QFontMetrics metrics = previewTree->fontMetrics();
    const auto fit = [&](int column, const QString& widest) {
        const QString title = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        const int width = std::max(metrics.horizontalAdvance(widest), metrics.horizontalAdvance(title));
        previewTree->header()->resizeSection(column, width + 6 * SheetStyle::kGrid);
    };
    fit(ArchiveTreeModel::Size, QStringLiteral("999.9 MB"));
    fit(ArchiveTreeModel::Packed, QStringLiteral("999.9 MB"));
    fit(ArchiveTreeModel::Modified, QStringLiteral("2026-12-31 23:59"));
    if (filterTf->text().isEmpty())
        expandSome();
    else
        filterNow();
}

void ArchivePreview::filterNow()
{
    m_filterDelay->stop();
    m_filterStop.request();
    m_filterStop = StopToken();
    const std::shared_ptr<const ArchiveTree> tree = m_model->tree();
    const QString text = filterTf->text();
    if (!tree)
        return;
    if (text.isEmpty()) {
        showFilter(nullptr);
        return;
    }
    if (tree->nodeCount() <= kFilterInline) {
        showFilter(TreeFilter::make(tree, text));
        return;
    }
    // Off the main thread; a newer text stops an older one, whose result
    // would be void anyway.
    // The main thread gets no hold on the tree: should the tree be gone by
    // then, it is not the main thread that frees it.
    QPointer<ArchivePreview> self(this);
    WorkerPool::async([self, tree, text, stop = m_filterStop] {
        auto filter = TreeFilter::make(tree, text, [stop] { return stop.requested(); });
        MainQueue::async([self, shown = std::weak_ptr(tree), stop, filter = std::move(filter)]() mutable {
            ArchivePreview* preview = self.data();
            if (!preview || !filter || stop.requested())
                return;
            // The same tree, told by its control block, which the weak pointer keeps.
            const std::shared_ptr<const ArchiveTree>& now = preview->m_model->tree();
            if (!shown.owner_before(now) && !now.owner_before(shown))
                preview->showFilter(std::move(filter));
        });
    });
}

void ArchivePreview::showFilter(std::shared_ptr<const TreeFilter> filter)
{
    const bool nothing = filter && filter->matchCount() == 0;
    m_model->setFilter(std::move(filter));
    previewStatusLab->setText(nothing ? L(QStringLiteral("没有名称匹配的项目")) : QString());
    m_pages->setCurrentIndex(nothing ? 1 : 0);
    expandSome();
}

void ArchivePreview::expandSome()
{
    const TreeFilter* filter = m_model->filter();
    if (filter) {
        if (filter->shownCount() <= kExpandAllUpTo)
            previewTree->expandAll();
        return;
    }
    // An archive that holds one folder shows what is in it.
    if (m_model->rowCount() == 1) {
        const QModelIndex top = m_model->index(0, 0);
        if (m_model->hasChildren(top))
            previewTree->expand(top);
    }
}

void ArchivePreview::updateSummary()
{
    const std::shared_ptr<const ArchiveTree>& tree = m_model->tree();
    if (!tree) {
        summaryLab->clear();
        return;
    }
    const QLocale locale;
    const qint64 size = tree->size(0);
    const qint64 packed = tree->packedSize(0);
    const QString files = locale.toString(tree->fileTotal());
    const QString folders = locale.toString(tree->folderTotal());
    if (packed >= 0 && size > 0) {
        const QString ratio
            = QString::number(qRound64(100.0 * static_cast<double>(packed) / static_cast<double>(size)));
        summaryLab->setText(L(QStringLiteral("%1 个文件，%2 个文件夹，共 %3，压缩率 %4%"))
                                .arg(files, folders, ItemSummary::formatSize(size), ratio));
    } else {
        summaryLab->setText(
            L(QStringLiteral("%1 个文件，%2 个文件夹，共 %3")).arg(files, folders, ItemSummary::formatSize(size)));
    }
}

void ArchivePreview::fetchBelowViewport()
{
    // The view asks for more rows only at the very end of what it shows; a
    // big folder above other rows gets its next rows here, as the rows
    // handed over so far run out at the bottom of the viewport.
    const QModelIndex bottom = previewTree->indexAt(QPoint(1, previewTree->viewport()->height() - 2));
    for (QModelIndex at = bottom; at.isValid(); at = at.parent()) {
        const QModelIndex parent = at.parent();
        if (m_model->canFetchMore(parent) && at.row() >= m_model->rowCount(parent) - ArchiveTreeModel::kChunk / 4)
            m_model->fetchMore(parent);
    }
}

void ArchivePreview::openRow(const QModelIndex& index)
{
    const std::shared_ptr<const ArchiveTree>& tree = m_model->tree();
    if (!tree || !index.isValid())
        return;
    const int node = m_model->node(index);
    const int entry = tree->entry(node);
    // Files only: a link's target need not come with it, and a folder opens in the tree.
    if (tree->isFolder(node) || entry < 0 || tree->listing().kind(entry) != ArchiveEntry::Kind::File)
        return;
    m_opener->open(m_loader->archive(), tree->listing().size(), entry, password());
}

void ArchivePreview::copyRows() const
{
    const std::shared_ptr<const ArchiveTree>& tree = m_model->tree();
    if (!tree)
        return;
    std::vector<int> nodes;
    for (const QModelIndex& row : previewTree->selectionModel()->selectedRows(ArchiveTreeModel::Name))
        nodes.push_back(m_model->node(row));
    if (nodes.empty())
        return;
    // In the order the tree shows them.
    std::sort(nodes.begin(), nodes.end());
    QStringList paths;
    for (const int node : nodes)
        paths.append(tree->path(node));
    QGuiApplication::clipboard()->setText(paths.join(u'\n'));
}

bool ArchivePreview::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (watched == previewTree) {
        if (key->matches(QKeySequence::Copy)) {
            copyRows();
            return true;
        }
        // Enter acts on the row; it never reaches the sheet's default button.
        if (enter) {
            const QModelIndex current = previewTree->currentIndex().siblingAtColumn(ArchiveTreeModel::Name);
            if (current.isValid() && m_model->hasChildren(current))
                previewTree->setExpanded(current, !previewTree->isExpanded(current));
            else
                openRow(current);
            return true;
        }
    } else if (watched == filterTf) {
        if (enter) {
            filterNow();
            previewTree->setFocus();
            return true;
        }
        if (key->key() == Qt::Key_Escape && !filterTf->text().isEmpty()) {
            filterTf->clear();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
