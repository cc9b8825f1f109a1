// The relay benchmark's bookkeeping, without platform calls: the numbered
// payloads it sends, and what the arrivals say about them (latency, lost and
// duplicated reports).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Payload bytes after the report ID: "QB", a run tag, 0, the sequence
// number (little-endian), then a pattern derived from both, so a report
// that arrives damaged is told apart from one of another run.
inline constexpr std::size_t kPayloadSize = 32;

std::vector<std::uint8_t> MakePayload(std::uint8_t tag, std::uint32_t seq);
// Upper-case hex, two digits a byte, as the agent writes it.
std::string ToHex(const std::uint8_t* bytes, std::size_t count);

enum class PayloadKind { Ours, Damaged, Foreign };
// Decodes a relayed code; for Ours fills tag and seq.
PayloadKind ParsePayload(const std::string& hex, std::uint8_t& tag, std::uint32_t& seq);

struct Arrival {
  std::uint32_t seq;
  std::int64_t ticks;  // performance-counter ticks on arrival
};

struct RunResult {
  std::size_t sent = 0;        // reports written
  std::size_t taken = 0;       // writes some open handle took
  std::size_t received = 0;    // distinct sequence numbers that arrived
  std::size_t lost = 0;        // taken, never arrived
  std::size_t duplicated = 0;  // arrivals beyond the first of a number
  std::size_t unexpected = 0;  // arrivals of numbers never sent
  double p50Us = 0, p99Us = 0, maxUs = 0, minUs = 0;  // completion to first arrival
};

// completion[seq]: ticks when the write of that report completed, or -1 when
// no handle took it. Latency is measured to the first arrival of a number.
RunResult Evaluate(const std::vector<std::int64_t>& completion, const std::vector<Arrival>& arrivals,
                   std::int64_t ticksPerSecond);

// Nearest-rank percentile of sorted values (q in 0..1); 0 for none.
double Percentile(const std::vector<double>& sorted, double q);

}  // namespace bench
