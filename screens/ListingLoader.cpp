#include "screens/ListingLoader.h"

#include "engine/ZipManager.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "platform/Panels.h"

#include <QPointer>

ListingLoader::ListingLoader(QObject* parent)
    : QObject(parent)
{
}

ListingLoader::~ListingLoader()
{
    m_stop.request();
}

void ListingLoader::load(const QString& archive)
{
    if (archive == m_archive && m_state != State::Idle)
        return;
    cancel();
    m_archive = archive;
    setState(State::Loading);
    list(std::nullopt);
}

void ListingLoader::cancel()
{
    m_stop.request();
    m_stop = StopToken();
    ++m_generation;
    m_archive.clear();
    m_triedPassword.reset();
    m_tree.reset();
    setState(State::Idle);
}

void ListingLoader::setListing(const QString& archive, std::shared_ptr<const ArchiveListing> listing)
{
    cancel();
    m_archive = archive;
    m_tree = ArchiveTree::build(std::move(listing));
    setState(m_tree ? State::Loaded : State::Failed);
}

std::optional<QString> ListingLoader::password() const
{
    return m_tree && m_tree->listing().needsPassword ? m_tree->listing().password : std::nullopt;
}

void ListingLoader::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void ListingLoader::list(const std::optional<QString>& password)
{
    m_triedPassword = password;
    const quint64 generation = m_generation;
    QPointer<ListingLoader> self(this);
    ZipManager::shared().list(m_archive, password, m_stop,
        [self, generation](const Outcome& outcome, std::shared_ptr<const ArchiveListing> listing) {
            if (ListingLoader* loader = self.data())
                loader->onListed(generation, outcome, std::move(listing));
        });
}

void ListingLoader::onListed(quint64 generation, const Outcome& outcome, std::shared_ptr<const ArchiveListing> listing)
{
    if (generation != m_generation)
        return;
    if (outcome.status == Outcome::Status::WrongPassword) {
        // The same words as the extraction's own sheet, then the sheet again.
        if (m_triedPassword)
            HUD::showErrorWithStatus(L(QStringLiteral("解压密码错误")));
        askPassword(generation);
        return;
    }
    if (!outcome.ok() || !listing) {
        qCWarning(lcUi, "preview: cannot list %s: %s", qUtf8Printable(m_archive), qUtf8Printable(outcome.message));
        setState(State::Failed);
        return;
    }
    build(generation, std::move(listing));
}

void ListingLoader::askPassword(quint64 generation)
{
    Panels::PasswordRequest request;
    request.message = L(QStringLiteral("请输入解压密码"));
    request.archivePath = m_archive;
    QPointer<ListingLoader> self(this);
    Panels::shared().askPassword(request, [self, generation](const std::optional<QString>& password) {
        ListingLoader* loader = self.data();
        if (!loader || generation != loader->m_generation)
            return;
        if (!password) {
            loader->setState(State::NeedsPassword);
            return;
        }
        loader->list(*password);
    });
}

void ListingLoader::build(quint64 generation, std::shared_ptr<const ArchiveListing> listing)
{
    if (listing->size() <= kBuildInline) {
        finish(generation, ArchiveTree::build(std::move(listing)));
        return;
    }
    QPointer<ListingLoader> self(this);
    WorkerPool::async([self, generation, listing = std::move(listing), stop = m_stop]() mutable {
        auto tree = ArchiveTree::build(std::move(listing), [stop] { return stop.requested(); });
        MainQueue::async([self, generation, tree = std::move(tree)]() mutable {
            if (ListingLoader* loader = self.data())
                loader->finish(generation, std::move(tree));
        });
    });
}

void ListingLoader::finish(quint64 generation, std::shared_ptr<const ArchiveTree> tree)
{
    if (generation != m_generation)
        return;
    m_tree = std::move(tree);
    setState(m_tree ? State::Loaded : State::Failed);
}
