#include "app/Components.h"

#include "hid/HidController.h"
#include "net/ClientSocket.h"
#include "toolkit/Controls.h"

namespace {

[[noreturn]] void Unknown(const DescProperty& p) {
  throw DescriptionError("line " + std::to_string(p.line) + ": unknown property " + p.key);
}

void ApplyClientSocket(TComponent* component, const DescProperty& p, const THandlerTable& h) {
  auto* socket = static_cast<TClientSocket*>(component);
  const DescValue& v = p.First();
  if (p.key == "Active") socket->SetActive(v.text == "true");
  else if (p.key == "ClientType") socket->SetClientType(v.text == "ctBlocking" ? ctBlocking : ctNonBlocking);
  else if (p.key == "Port") socket->SetPort(static_cast<int>(v.number));
  else if (p.key == "Address") socket->SetAddress(v.text);
  else if (p.key == "OnConnect") socket->OnConnect = h.Get<TSocketNotifyEvent>(v.text);
  else if (p.key == "OnDisconnect") socket->OnDisconnect = h.Get<TSocketNotifyEvent>(v.text);
  else if (p.key == "OnRead") socket->OnRead = h.Get<TSocketNotifyEvent>(v.text);
  else if (p.key == "OnWrite") socket->OnWrite = h.Get<TSocketNotifyEvent>(v.text);
  else if (p.key == "OnError") socket->OnError = h.Get<TSocketErrorEvent>(v.text);
  else Unknown(p);
}

void ApplyHidController(TComponent* component, const DescProperty& p, const THandlerTable& h) {
  auto* controller = static_cast<THidDeviceController*>(component);
  const DescValue& v = p.First();
  if (p.key == "OnArrival") controller->OnArrival = h.Get<THidPlugEvent>(v.text);
  else if (p.key == "OnRemoval") controller->OnRemoval = h.Get<THidPlugEvent>(v.text);
  else if (p.key == "OnEnumerate") controller->OnEnumerate = h.Get<THidEnumerateEvent>(v.text);
  else if (p.key == "OnDeviceUnplug") controller->SetOnDeviceUnplug(h.Get<THidPlugEvent>(v.text));
  else if (p.key == "OnDeviceData") controller->SetOnDeviceData(h.Get<THidDataEvent>(v.text));
  else if (p.key == "OnDeviceDataError") controller->SetOnDeviceDataError(h.Get<THidDataErrorEvent>(v.text));
  else if (p.key == "OnDeviceChange") {
    // Loading from the description stores the handler without enumerating.
    controller->SetLoading(true);
    controller->SetOnDeviceChange(h.Get<TNotifyEvent>(v.text));
    controller->SetLoading(false);
  } else if (p.key == "DevThreadSleepTime") controller->SetDevThreadSleepTime(static_cast<std::int32_t>(v.number));
  else if (p.key == "Version") controller->SetVersion(v.text);
  else Unknown(p);
}

}  // namespace

void RegisterAgentComponentClasses() {
  RegisterComponentClass("TClientSocket",
                         {[](TComponent* owner) -> TComponent* { return new TClientSocket(owner); }, &ApplyClientSocket});
  RegisterComponentClass("THidDeviceController",
                         {[](TComponent* owner) -> TComponent* { return new THidDeviceController(owner); },
                          &ApplyHidController});
}
