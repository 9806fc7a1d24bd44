#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <utility>

// The parameters of one Measurement Protocol hit: wire key → text, kept in
// the order they go on the wire. Inserting an existing key replaces its value
// in place.
class MPParameters final {
public:
    using Entry = std::pair<QString, QString>;

    MPParameters() = default;
    MPParameters(std::initializer_list<Entry> entries);

    void insert(const QString& key, const QString& value);
    bool contains(const QString& key) const;
    QString value(const QString& key) const;
    QStringList keys() const;
    const QList<Entry>& entries() const { return m_entries; }
    qsizetype size() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    // The same pairs as a QVariantMap (which sorts its keys), for announcements.
    QVariantMap toVariantMap() const;

    friend bool operator==(const MPParameters&, const MPParameters&) = default;

private:
    QList<Entry> m_entries;
};

// The base of the three hit kinds. Each kind names, through
// `dictionaryRepresentationKeys`, which of its fields go on the wire under
// which key; the base names none. Plain values, usable on any thread.
class MPTrackingRequestParams {
public:
    // Wire key → field name, in wire order.
    using KeyMap = QList<std::pair<QString, QString>>;

    virtual ~MPTrackingRequestParams() = default;

    QString hitType;
    QString contentDescription;
    QString customDimension;

    static KeyMap dictionaryRepresentationKeys() { return {}; }
    // The kind's own key map.
    virtual KeyMap representationKeys() const { return dictionaryRepresentationKeys(); }
    // The text of the field called `name`; a null text for an unknown name.
    virtual QString valueForField(const QString& name) const;
    // Each mapped field's text under its wire key; empty fields are left out.
    MPParameters dictionaryRepresentation() const;

protected:
    MPTrackingRequestParams() = default;
    MPTrackingRequestParams(const MPTrackingRequestParams&) = default;
    MPTrackingRequestParams& operator=(const MPTrackingRequestParams&) = default;
};

class MPEventParams final : public MPTrackingRequestParams {
public:
    QString category;
    QString action;
    QString label;
    QString value;

    static KeyMap dictionaryRepresentationKeys();
    KeyMap representationKeys() const override { return dictionaryRepresentationKeys(); }
    QString valueForField(const QString& name) const override;
};

class MPAppViewParams final : public MPTrackingRequestParams {
public:
    static KeyMap dictionaryRepresentationKeys();
    KeyMap representationKeys() const override { return dictionaryRepresentationKeys(); }
};

class MPTimingParams final : public MPTrackingRequestParams {
public:
    QString category;
    QString variable;
    QString time;
    QString label;

    static KeyMap dictionaryRepresentationKeys();
    KeyMap representationKeys() const override { return dictionaryRepresentationKeys(); }
    QString valueForField(const QString& name) const override;
};
