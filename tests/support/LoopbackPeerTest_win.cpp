// The shared live-host peer against plain client sockets of this test: what
// the end-to-end tests and the benchmarks rely on.
#include <gtest/gtest.h>

#include <string>

#include "LoopbackPeer_win.h"
#include "WineTestSupport_win.h"

namespace ts = testing_support;

namespace {

ts::LoopbackPeer::Options AnyPort() {
  ts::LoopbackPeer::Options options;
  options.port = 0;
  return options;
}

// A blocking client connection to the peer.
class Client {
 public:
  explicit Client(std::uint16_t port) {
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    DWORD timeout = static_cast<DWORD>(ts::Scaled(5000));
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  }
  ~Client() { closesocket(socket_); }
  bool Connected() const { return connected_; }
  void Send(const std::string& bytes) { send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0); }
  // What arrives next ("" once the peer closed; "timeout" when nothing came).
  std::string Next() {
    char buffer[256];
    const int n = recv(socket_, buffer, sizeof buffer, 0);
    if (n < 0) return "timeout";
    return std::string(buffer, static_cast<std::size_t>(n));
  }
  void Close() { shutdown(socket_, SD_SEND); }

 private:
  SOCKET socket_;
  bool connected_ = false;
};

TEST(LoopbackPeer, KeepsTheLinesOfEveryConnectionAndTalksToTheOneAcceptedLast) {
  ts::LoopbackPeer peer{AnyPort()};
  ASSERT_TRUE(peer.Ok());
  Client first(peer.Port());
  ASSERT_TRUE(first.Connected());
  ASSERT_NE(peer.Accept(5000), 0u);
  first.Send("mark=live\r\nusb-hid=re");
  first.Send("cv\r\ncode=01\r\n");
  ASSERT_TRUE(ts::WaitUntil([&] { return peer.Lines().size() == 3; }, 5000));
  EXPECT_EQ(peer.Lines()[1].text, "usb-hid=recv");  // one line across two reads
  ASSERT_TRUE(peer.Send("usb-hid=send\r\n"));
  EXPECT_EQ(first.Next(), "usb-hid=send\r\n");

  // A second connection: kept apart from the first until taken.
  Client second(peer.Port());
  ASSERT_TRUE(second.Connected());
  ASSERT_TRUE(ts::WaitUntil([&] { return peer.Accepted() == 2; }, 5000));
  ASSERT_TRUE(peer.Send("one\r\n"));
  EXPECT_EQ(first.Next(), "one\r\n");
  ASSERT_NE(peer.Accept(5000), 0u);
  EXPECT_EQ(peer.Accept(200), 0u) << "no third connection";
  second.Send("code=02\r\n");
  ASSERT_TRUE(ts::WaitUntil([&] { return peer.TimesOf("code=02").size() == 1; }, 5000));
  ASSERT_TRUE(peer.Send("two\r\n"));
  EXPECT_EQ(second.Next(), "two\r\n");
  EXPECT_EQ(peer.Received(), "mark=live\r\nusb-hid=recv\r\ncode=01\r\ncode=02\r\n");
}

TEST(LoopbackPeer, DropEndsOnlyTheCurrentConnectionAndAClosedOneIsSeen) {
  ts::LoopbackPeer peer{AnyPort()};
  ASSERT_TRUE(peer.Ok());
  Client first(peer.Port());
  ASSERT_NE(peer.Accept(5000), 0u);
  Client second(peer.Port());
  ASSERT_TRUE(ts::WaitUntil([&] { return peer.Accepted() == 2; }, 5000));
  // The second is not taken yet: the first is the current one.
  peer.Drop();
  EXPECT_EQ(first.Next(), "");
  EXPECT_FALSE(peer.Connected());
  EXPECT_EQ(peer.Open(), 1);

  ASSERT_NE(peer.Accept(5000), 0u);
  EXPECT_TRUE(peer.OpenFor(300));
  second.Close();
  EXPECT_FALSE(peer.OpenFor(5000)) << "the other end's close not seen";
  EXPECT_EQ(peer.Open(), 0);
}

TEST(LoopbackPeer, StoppedReadingLeavesTheBytesWaitingUntilItReadsAgain) {
  ts::LoopbackPeer peer{AnyPort()};
  ASSERT_TRUE(peer.Ok());
  peer.Pace(0, 0);
  Client client(peer.Port());
  ASSERT_NE(peer.Accept(5000), 0u);
  client.Send("usb-hid=recv\r\n");
  Sleep(300);
  EXPECT_EQ(peer.Received(), "");
  EXPECT_EQ(peer.LastArrival(), 0u);
  peer.Pace(4, 10);  // a few bytes at a time
  ASSERT_TRUE(ts::WaitUntil([&] { return peer.Received() == "usb-hid=recv\r\n"; }, 5000));
  EXPECT_NE(peer.LastArrival(), 0u);
}

}  // namespace
