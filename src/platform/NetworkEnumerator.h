#pragma once

// The enumeration of the computers of the caller's own network context, in the
// shape of an open / fetch batches / close walk: each fetch gives some remote
// names ("\\" followed by the computer's name) and a result code.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace valmora::platform {

enum class TEnumResult : std::uint32_t {
    Success = 0,        // entries delivered; more may follow
    InvalidHandle = 6,  // the enumeration is not (or no longer) valid
    NoMoreItems = 259,  // the enumeration is complete
    ExtendedError = 1208, // a network-specific error
    NoNetwork = 1222,   // no network is present
};

struct TEnumBatch
{
    // Any value, also one not named above: callers treat unknown codes like
    // NoMoreItems (take the entries, then stop).
    std::uint32_t result = static_cast<std::uint32_t>(TEnumResult::NoMoreItems);
    QStringList remoteNames;
};

class TNetworkEnumeration
{
public:
    virtual ~TNetworkEnumeration() = default;
    virtual TEnumBatch Next() = 0;
    // True when the enumeration was closed without error.
    virtual bool Close() = 0;
};

class TNetworkEnumerator
{
public:
    virtual ~TNetworkEnumerator() = default;
    // Nothing when the enumeration cannot be started; error then says why.
    virtual std::unique_ptr<TNetworkEnumeration> Open(QString &error) = 0;
};

// Settings of the WS-Discovery enumerator of Linux.
struct TWsDiscoveryOptions
{
    int collectMs = 3000;     // how long replies to the probe are collected
    int metadataTimeoutMs = 2000; // per metadata request
    int maxResponders = 256;  // further responders are ignored
    QStringList interfaces;   // empty: every interface that is up and can multicast
};

// The enumerator of this platform: WS-Discovery on Linux.
std::unique_ptr<TNetworkEnumerator> CreateNetworkEnumerator(const TWsDiscoveryOptions &options = {});

} // namespace valmora::platform
