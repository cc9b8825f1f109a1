#include "toolkit/Controls.h"
#include "toolkit/HiddenWindow.h"

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  window_ = std::make_unique<THiddenWindow>([this](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message == WM_TIMER) {
      if (enabled_ && OnTimer) OnTimer(this);
      return 0;
    }
    return window_->Default(message, wParam, lParam);
  });
  Update();
}

TTimer::~TTimer() {
  enabled_ = false;
  Update();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;  // a running timer keeps its count
  enabled_ = enabled;
  Update();
}

void TTimer::SetInterval(unsigned interval) {
  if (interval == interval_) return;
  interval_ = interval;
  running_ = false;
  KillTimer(window_->Handle(), kTimerId);
  Update();
}

void TTimer::Update() {
  const bool wanted = enabled_ && interval_ != 0;
  if (wanted && !running_) {
    running_ = SetTimer(window_->Handle(), kTimerId, interval_, nullptr) != 0;
  } else if (!wanted && running_) {
    KillTimer(window_->Handle(), kTimerId);
    running_ = false;
  }
}
