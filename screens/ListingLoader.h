#pragma once

#include "engine/StopToken.h"
#include "platform/Outcome.h"
#include "screens/ArchiveTree.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

// Lists one archive at a time for the preview and builds its tree, both
// on the worker pool (small listings get their tree at once on the main
// thread). While the names are encrypted it asks for the password in the
// password sheet, again after a wrong one, until it opens them or the sheet
// is cancelled; the password that opened them is kept for the extraction.
// Loading another archive, or cancel(), stops what runs and voids what it
// would still report. Main thread only.
class ListingLoader final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListingLoader)

public:
    enum class State {
        Idle,
        Loading,
        Loaded,
        NeedsPassword, // the password sheet was cancelled
        Failed,
    };
    // Listings up to this many entries get their tree on the main thread.
    static constexpr qsizetype kBuildInline = 5000;

    explicit ListingLoader(QObject* parent = nullptr);
    ~ListingLoader() override;

    // Starts on `archive`, unless it is the one loaded or loading.
    void load(const QString& archive);
    void cancel();
    // Takes `listing` as what `archive` holds, as if it had been listed.
    void setListing(const QString& archive, std::shared_ptr<const ArchiveListing> listing);

    State state() const { return m_state; }
    QString archive() const { return m_archive; }
    const std::shared_ptr<const ArchiveTree>& tree() const { return m_tree; }
    // The password that opened encrypted names; none when they were plain.
    std::optional<QString> password() const;

signals:
    void stateChanged();

private:
    void list(const std::optional<QString>& password);
    void onListed(quint64 generation, const Outcome& outcome, std::shared_ptr<const ArchiveListing> listing);
    void askPassword(quint64 generation);
    void build(quint64 generation, std::shared_ptr<const ArchiveListing> listing);
    void finish(quint64 generation, std::shared_ptr<const ArchiveTree> tree);
    void setState(State state);

    QString m_archive;
    State m_state = State::Idle;
    quint64 m_generation = 0; // counts starts; a report of an earlier one is void
    StopToken m_stop;
    std::optional<QString> m_triedPassword;
    std::shared_ptr<const ArchiveTree> m_tree;
};
