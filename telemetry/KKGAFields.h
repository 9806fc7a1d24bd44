#pragma once

#include <QLatin1String>
#include <QString>

// Measurement Protocol (version 1) parameter names and hit types, for the
// analytics builder and its callers. Each converts implicitly to QString.
namespace KKGA {
inline constexpr QLatin1String kProtocolVersion { "v" };
inline constexpr QLatin1String kHitType { "t" };
inline constexpr QLatin1String kTrackingId { "tid" };
inline constexpr QLatin1String kClientId { "cid" };
inline constexpr QLatin1String kAnonymizeIp { "aip" };
inline constexpr QLatin1String kSessionControl { "sc" };
inline constexpr QLatin1String kScreenResolution { "sr" };
inline constexpr QLatin1String kViewportSize { "vp" };
inline constexpr QLatin1String kEncoding { "de" };
inline constexpr QLatin1String kScreenColors { "sd" };
inline constexpr QLatin1String kLanguage { "ul" };
inline constexpr QLatin1String kJavaEnabled { "fe" };
inline constexpr QLatin1String kFlashVersion { "fl" };
inline constexpr QLatin1String kNonInteraction { "ni" };
inline constexpr QLatin1String kReferrer { "dr" };
inline constexpr QLatin1String kLocation { "dl" };
inline constexpr QLatin1String kHostname { "dh" };
inline constexpr QLatin1String kPage { "dp" };
inline constexpr QLatin1String kScreenName { "cd" };
inline constexpr QLatin1String kTitle { "dt" };
inline constexpr QLatin1String kAppName { "an" };
inline constexpr QLatin1String kAppVersion { "av" };
inline constexpr QLatin1String kAppId { "aid" };
inline constexpr QLatin1String kAppInstallerId { "aiid" };
inline constexpr QLatin1String kUserId { "uid" };
inline constexpr QLatin1String kEventCategory { "ec" };
inline constexpr QLatin1String kEventAction { "ea" };
inline constexpr QLatin1String kEventLabel { "el" };
inline constexpr QLatin1String kEventValue { "ev" };
inline constexpr QLatin1String kSocialNetwork { "sn" };
inline constexpr QLatin1String kSocialAction { "sa" };
inline constexpr QLatin1String kSocialTarget { "st" };
inline constexpr QLatin1String kTransactionId { "ti" };
inline constexpr QLatin1String kTransactionAffiliation { "ta" };
inline constexpr QLatin1String kTransactionRevenue { "tr" };
inline constexpr QLatin1String kTransactionShipping { "ts" };
inline constexpr QLatin1String kTransactionTax { "tt" };
inline constexpr QLatin1String kCurrencyCode { "cu" };
inline constexpr QLatin1String kItemPrice { "ip" };
inline constexpr QLatin1String kItemQuantity { "iq" };
inline constexpr QLatin1String kItemSku { "ic" };
inline constexpr QLatin1String kItemName { "in" };
inline constexpr QLatin1String kItemCategory { "iv" };
inline constexpr QLatin1String kCampaignSource { "cs" };
inline constexpr QLatin1String kCampaignMedium { "cm" };
inline constexpr QLatin1String kCampaignName { "cn" };
inline constexpr QLatin1String kCampaignKeyword { "ck" };
inline constexpr QLatin1String kCampaignContent { "cc" };
inline constexpr QLatin1String kCampaignId { "ci" };
inline constexpr QLatin1String kTimingCategory { "utc" };
inline constexpr QLatin1String kTimingVar { "utv" };
inline constexpr QLatin1String kTimingValue { "utt" };
inline constexpr QLatin1String kTimingLabel { "utl" };
inline constexpr QLatin1String kExDescription { "exd" };
inline constexpr QLatin1String kExFatal { "exf" };
inline constexpr QLatin1String kExperimentId { "xid" };
inline constexpr QLatin1String kExperimentVariant { "xvar" };

inline constexpr QLatin1String kAppView { "appview" };
inline constexpr QLatin1String kPageView { "pageview" };
inline constexpr QLatin1String kEvent { "event" };
inline constexpr QLatin1String kSocial { "social" };
inline constexpr QLatin1String kTransaction { "transaction" };
inline constexpr QLatin1String kItem { "item" };
inline constexpr QLatin1String kException { "exception" };
inline constexpr QLatin1String kTiming { "timing" };
} // namespace KKGA

// Keys of the numbered custom dimensions and metrics.
class KKGAFields final {
public:
    // "cd<n>", for example "cd1".
    static QString customDimensionForIndex(quint64 index);
    // "cm<n>".
    static QString customMetricForIndex(quint64 index);
};
