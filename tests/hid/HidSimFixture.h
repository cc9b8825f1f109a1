// Shared pieces of the HID tests under Wine: a message pump that also
// carries out read-thread hand-overs, and an event recorder.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "WineTestSupport_win.h"
#include "hid/HidController.h"
#include "toolkit/Thread.h"

namespace hidtest {

// Runs the message loop of this thread and the pending hand-overs until the
// condition holds or the time (scaled) is up.
template <class Condition>
bool PumpUntil(Condition condition, int timeoutMs) {
  return testing_support::WaitUntil(
      [&] {
        CheckSynchronize();
        return condition();
      },
      timeoutMs, 5);
}

// The same for a while (0: once).
inline void Pump(int milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}

inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c < 128 ? c : '?');
  return out;
}

// Records the events of a controller and its devices as text, in order.
// With `ours` set, plug events of other devices (the platform's own) are
// left out.
struct Recorder {
  std::function<bool(THidDevice*)> ours;
  std::vector<std::string> log;
  std::vector<THidDevice*> arrivals;
  std::vector<std::vector<std::uint8_t>> reports;
  std::vector<int> reportIds;
  std::vector<std::uint32_t> errors;
  bool readProductInArrival = true;
  bool sawFirstChange = false;  // a change handled for the controller's first notification

  bool Counts(THidDevice* d) const { return !ours || ours(d); }
  void Arrival(THidDevice* d) {
    if (!Counts(d)) return;
    arrivals.push_back(d);
    log.push_back("arrival:" + (readProductInArrival ? Narrow(d->ProductName()) : std::string()));
  }
  void Removal(THidDevice* d) {
    if (Counts(d)) log.push_back("removal");
  }
  void Unplug(THidDevice* d) {
    if (Counts(d)) log.push_back("unplug");
  }
  void Change(TObject* sender) {
    log.push_back("change");
    if (static_cast<THidDeviceController*>(sender)->ChangeParam() == 0xFFFFFFFFu) sawFirstChange = true;
  }
  void Data(THidDevice* d, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
    reportIds.push_back(id);
    reports.emplace_back(data, data + size);
  }
  void OtherData(THidDevice* d, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
    log.push_back("other-data");
  }
  void DataError(THidDevice* d, std::uint32_t error) { errors.push_back(error); }
  void OtherUnplug(THidDevice* d) { log.push_back("other-unplug"); }

  THidPlugEvent ArrivalEvent() { return THidPlugEvent::Bind<&Recorder::Arrival>(this); }
  THidPlugEvent RemovalEvent() { return THidPlugEvent::Bind<&Recorder::Removal>(this); }
  THidPlugEvent UnplugEvent() { return THidPlugEvent::Bind<&Recorder::Unplug>(this); }
  TNotifyEvent ChangeEvent() { return TNotifyEvent::Bind<&Recorder::Change>(this); }
  THidDataEvent DataEvent() { return THidDataEvent::Bind<&Recorder::Data>(this); }
  THidDataErrorEvent DataErrorEvent() { return THidDataErrorEvent::Bind<&Recorder::DataError>(this); }
};

}  // namespace hidtest
