#pragma once

// The parts of the system's ICMP echo that decide whose answer a datagram is.
// Every raw ICMP socket of the process sees every ICMP datagram the host
// receives, so with several pings in flight each one must pick out its own.

#include "platform/Icmp.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct sock_filter;

namespace valmora::platform::icmp {

// What a received datagram says about the echo request (id, sequence) sent to
// target: an echo reply from target with both numbers, or an unreachable or
// time-exceeded error that quotes our request; nothing for anything else. A raw
// socket's datagram starts with the IP header; a datagram socket's with the ICMP
// header, and the kernel has already matched the identifier (it chose it).
std::optional<TReplyStatusType> AnswerTo(const unsigned char *data, std::size_t size, bool raw, std::uint16_t id,
                                         std::uint16_t sequence, in_addr from, in_addr target);

// A socket filter for a raw ICMP socket that lets through only the echo reply
// carrying id and sequence and the errors that quote them, so that the answers
// to other pings never fill this socket's receive buffer.
std::vector<sock_filter> RawReplyFilter(std::uint16_t id, std::uint16_t sequence);

} // namespace valmora::platform::icmp
