#include "bench/RelayStats.h"

#include <algorithm>
#include <cmath>

namespace bench {

namespace {

std::uint8_t PatternByte(std::uint8_t tag, std::uint32_t seq, std::size_t index) {
  return static_cast<std::uint8_t>(seq * 31u + tag * 7u + index * 13u);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::vector<std::uint8_t> MakePayload(std::uint8_t tag, std::uint32_t seq) {
  std::vector<std::uint8_t> payload(kPayloadSize);
  payload[0] = 'Q';
  payload[1] = 'B';
  payload[2] = tag;
  payload[3] = 0;
  for (int i = 0; i < 4; ++i) payload[4 + i] = static_cast<std::uint8_t>(seq >> (8 * i));
  for (std::size_t i = 8; i < kPayloadSize; ++i) payload[i] = PatternByte(tag, seq, i);
  return payload;
}

std::string ToHex(const std::uint8_t* bytes, std::size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text(count * 2, '0');
  for (std::size_t i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return text;
}

PayloadKind ParsePayload(const std::string& hex, std::uint8_t& tag, std::uint32_t& seq) {
  if (hex.size() < 4) return PayloadKind::Foreign;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return bytes.size() >= 2 && bytes[0] == 'Q' && bytes[1] == 'B' ? PayloadKind::Damaged
                                                                                            : PayloadKind::Foreign;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  if (bytes.size() < 2 || bytes[0] != 'Q' || bytes[1] != 'B') return PayloadKind::Foreign;
  if (bytes.size() != kPayloadSize || hex.size() != 2 * kPayloadSize || bytes[3] != 0) return PayloadKind::Damaged;
  tag = bytes[2];
  seq = 0;
  for (int i = 0; i < 4; ++i) seq |= static_cast<std::uint32_t>(bytes[4 + i]) << (8 * i);
  for (std::size_t i = 8; i < kPayloadSize; ++i)
    if (bytes[i] != PatternByte(tag, seq, i)) return PayloadKind::Damaged;
  return PayloadKind::Ours;
}

double Percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  std::size_t rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
  if (rank < 1) rank = 1;
  if (rank > sorted.size()) rank = sorted.size();
  return sorted[rank - 1];
}

RunResult Evaluate(const std::vector<std::int64_t>& completion, const std::vector<Arrival>& arrivals,
                   std::int64_t ticksPerSecond) {
  RunResult result;
  result.sent = completion.size();
  std::vector<std::int64_t> first(completion.size(), -1);
  for (const Arrival& arrival : arrivals) {
    if (arrival.seq >= completion.size() || completion[arrival.seq] < 0) {
      ++result.unexpected;
      continue;
    }
    if (first[arrival.seq] >= 0) {
      ++result.duplicated;
      continue;
    }
    first[arrival.seq] = arrival.ticks;
  }
  std::vector<double> latencies;
  latencies.reserve(completion.size());
  const double usPerTick = 1e6 / static_cast<double>(ticksPerSecond);
  for (std::size_t seq = 0; seq < completion.size(); ++seq) {
    if (completion[seq] < 0) continue;
    ++result.taken;
    if (first[seq] < 0) {
      ++result.lost;
      continue;
    }
    ++result.received;
    latencies.push_back(static_cast<double>(first[seq] - completion[seq]) * usPerTick);
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    result.p50Us = Percentile(latencies, 0.50);
    result.p99Us = Percentile(latencies, 0.99);
    result.maxUs = latencies.back();
    result.minUs = latencies.front();
  }
  return result;
}

}  // namespace bench
