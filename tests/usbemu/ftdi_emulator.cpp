// SPDX-License-Identifier: MIT
#include "tests/usbemu/ftdi_emulator.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sim/duroz740.h"

namespace zelto::usbemu {

namespace {

constexpr int kPacketSize = 64;  // wMaxPacketSize of both bulk endpoints
constexpr int kPayloadPerPacket = kPacketSize - 2;
// The two modem-status bytes that start every packet the chip sends: CTS and DSR low,
// transmitter empty.
constexpr std::uint8_t kModemStatus0 = 0x01;
constexpr std::uint8_t kModemStatus1 = 0x60;
constexpr int kSetupSize = 8;

// A clock that starts at zero when the bus is created.
class StartClock : public Clock {
 public:
  std::int64_t NowMs() const override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  char two[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

void Put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
  v.push_back(static_cast<std::uint8_t>(x & 0xFF));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}

// Device descriptor and one configuration: one vendor-class interface with bulk IN 0x81 and
// bulk OUT 0x02 of 64 bytes, as an FT232R has.
std::vector<std::uint8_t> Descriptors(const ChipSpec& spec) {
  std::vector<std::uint8_t> d = {18, 1};
  Put16(d, 0x0200);                 // USB 2.0
  d.insert(d.end(), {0, 0, 0, 8});  // class per interface, EP0 of 8 bytes
  Put16(d, spec.vendor);
  Put16(d, spec.product);
  Put16(d, 0x0600);                 // bcdDevice: FT232R
  d.insert(d.end(), {1, 2, 3, 1});  // strings 1..3, one configuration
  d.insert(d.end(), {9, 2});
  Put16(d, 9 + 9 + 7 + 7);
  d.insert(d.end(), {1, 1, 0, 0xA0, 45});                   // bus powered, remote wakeup, 90 mA
  d.insert(d.end(), {9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2});  // vendor class
  d.insert(d.end(), {7, 5, 0x81, 2});
  Put16(d, kPacketSize);
  d.push_back(0);
  d.insert(d.end(), {7, 5, 0x02, 2});
  Put16(d, kPacketSize);
  d.push_back(0);
  return d;
}

std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
  std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
  for (char c : text) Put16(d, static_cast<std::uint8_t>(c));
  return d;
}

// The FT232R's baud divisor: 3 MHz over an integer part plus an eighth-step fraction.
int BaudFromDivisor(std::uint16_t value, std::uint16_t index) {
  static constexpr int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
  const int integer = value & 0x3FFF;
  const int frac_code = ((value >> 14) & 0x3) | ((index & 0x1) << 2);
  if (integer == 0 && frac_code == 0) return 3000000;
  if (integer == 1 && frac_code == 0) return 2000000;
  const double divisor = integer + kEighths[frac_code] / 8.0;
  return static_cast<int>(3000000.0 / divisor + 0.5);
}

}  // namespace

struct EmulatedBus::Impl {
  struct Chip {
    ChipSpec spec;
    int port = 0;
    int address = 0;
    std::string syspath;
    std::string devnode;  // /dev/bus/usb/BBB/DDD
    bool present = false;
    sim::Adapter* adapter = nullptr;
    std::unique_ptr<AdapterConnection> link;  // the programmer side of the adapter, opened
    std::deque<std::uint8_t> line;  // sent by the programmer, still on the serial line
    std::deque<std::uint8_t> fifo;  // arrived in the chip, not yet sent to the host
    double line_credit = 0;
    std::int64_t line_ms = 0;
    ChipCounters counters;
  };
  struct Urb {
    UMockdevIoctlData* data = nullptr;  // our copy of the client's usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;
    UMockdevIoctlClient* client = nullptr;
    int chip = -1;
    std::int64_t submitted_ms = 0;
    bool done = false;
  };

  mutable std::mutex mutex;
  StartClock clock;
  sim::UsbBus bus{clock};
  UMockdevTestbed* testbed = nullptr;
  UMockdevIoctlBase* handler = nullptr;
  std::vector<Chip> chips;
  std::deque<Urb> urbs;
  int next_address = 2;

  Chip* ChipOf(UMockdevIoctlClient* client) {
    const std::string node = umockdev_ioctl_client_get_devnode(client);
    for (Chip& c : chips)
      if (node == c.devnode) return &c;
    return nullptr;
  }

  // Moves what the programmer sent onto the line, and from the line into the chip at the
  // line's speed: ten bits per byte.
  void Pump(Chip& c, std::int64_t now) {
    if (c.present && c.link != nullptr) {
      std::uint32_t queued = 0;
      if (c.link->Queue(queued).Ok() && queued > 0) {
        std::vector<std::uint8_t> bytes(queued);
        std::uint32_t got = 0;
        if (c.link->Read(bytes.data(), queued, got).Ok())
          c.line.insert(c.line.end(), bytes.begin(), bytes.begin() + got);
      }
    }
    const int baud = c.counters.baud > 0 ? c.counters.baud : 9600;
    if (c.line.empty()) {
      c.line_credit = 0;
    } else {
      c.line_credit += static_cast<double>(now - c.line_ms) * baud / 10000.0;
      while (c.line_credit >= 1.0 && !c.line.empty()) {
        c.fifo.push_back(c.line.front());
        c.line.pop_front();
        c.line_credit -= 1.0;
      }
    }
    c.line_ms = now;
  }

  // A bulk IN URB completes when the chip can fill it, or when the latency timer runs out,
  // with whatever the chip holds (perhaps nothing but the status bytes).
  bool TryCompleteIn(Chip& c, Urb& u, std::int64_t now) {
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
    const int packets = urb->buffer_length / kPacketSize > 0 ? urb->buffer_length / kPacketSize : 1;
    const std::size_t capacity = static_cast<std::size_t>(packets) * kPayloadPerPacket;
    if (c.fifo.size() < capacity && now - u.submitted_ms < c.counters.latency_ms) return false;
    std::size_t left = std::min(capacity, c.fifo.size());
    int length = 0;
    std::uint8_t* out = u.buffer->data;
    do {
      if (length + 2 > urb->buffer_length) break;
      out[length++] = kModemStatus0;
      out[length++] = kModemStatus1;
      for (int i = 0; i < kPayloadPerPacket && left > 0 && length < urb->buffer_length; ++i) {
        out[length++] = c.fifo.front();
        c.fifo.pop_front();
        --left;
      }
    } while (left > 0);
    urb->actual_length = length;
    urb->status = 0;
    u.done = true;
    ++c.counters.bulk_in;
    return true;
  }

  void Control(Chip& c, Urb& u) {
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
    std::uint8_t* buf = u.buffer->data;
    const std::uint8_t type = buf[0];
    const std::uint8_t request = buf[1];
    const auto value = static_cast<std::uint16_t>(buf[2] | (buf[3] << 8));
    const auto index = static_cast<std::uint16_t>(buf[4] | (buf[5] << 8));
    const int length = buf[6] | (buf[7] << 8);
    ++c.counters.control_transfers;
    urb->status = 0;
    urb->actual_length = 0;
    u.done = true;
    auto answer = [&](const std::vector<std::uint8_t>& bytes) {
      const int n = std::min<int>(length, static_cast<int>(bytes.size()));
      std::memcpy(buf + kSetupSize, bytes.data(), static_cast<std::size_t>(n));
      urb->actual_length = n;
    };
    if (type == 0x80 && request == 0x06) {  // GET_DESCRIPTOR
      const int kind = value >> 8;
      const int number = value & 0xFF;
      const std::vector<std::uint8_t> all = Descriptors(c.spec);
      if (kind == 1) {
        answer(std::vector<std::uint8_t>(all.begin(), all.begin() + 18));
      } else if (kind == 2) {
        answer(std::vector<std::uint8_t>(all.begin() + 18, all.end()));
      } else if (kind == 3) {
        ++c.counters.string_requests;
        if (c.spec.stall_strings) {
          urb->status = -EPIPE;
        } else if (number == 0) {
          answer({4, 3, 0x09, 0x04});
        } else if (number <= 3) {
          const std::string& text = number == 1   ? c.spec.manufacturer
                                    : number == 2 ? c.spec.description
                                                  : c.spec.serial;
          answer(StringDescriptor(text));
        } else {
          urb->status = -EPIPE;
        }
      } else {
        urb->status = -EPIPE;
      }
      return;
    }
    if (type == 0x40) {  // FTDI vendor requests to the device
      ++c.counters.vendor_requests;
      switch (request) {
        case 0x00:  // reset / purge
          if (value == 0) {
            c.fifo.clear();
            c.line.clear();
            if (c.link != nullptr) c.link->Reset();
          } else if (value == 2) {  // what the chip received and the host has not read
            ++c.counters.purges_rx;
            c.fifo.clear();
            c.line.clear();
            if (c.link != nullptr) c.link->Purge();
          }
          break;
        case 0x03:
          c.counters.baud = BaudFromDivisor(value, index);
          break;
        case 0x09:
          c.counters.latency_ms = value & 0xFF;
          break;
        default:  // modem control, flow control, data characteristics, event chars
          break;
      }
      return;
    }
    if (type == 0xC0) {  // FTDI vendor requests from the device
      ++c.counters.vendor_requests;
      if (auto it = c.spec.vendor_in.find(VendorKey(request, value, index));
          it != c.spec.vendor_in.end()) {
        answer(it->second);
        return;
      }
      if (request == 0x05)
        answer({kModemStatus0, kModemStatus1});
      else if (request == 0x0A)
        answer({static_cast<std::uint8_t>(c.counters.latency_ms)});
      else if (request == 0x90)
        answer({0xFF, 0xFF});  // an empty EEPROM word
      else
        urb->status = -EPIPE;
      return;
    }
    // Standard requests to device, interface or endpoint (configuration, halt): accepted.
  }

  // Completes every URB of the chip that can be; call under the lock.
  void Service(Chip& c) {
    const std::int64_t now = clock.NowMs();
    Pump(c, now);
    for (Urb& u : urbs) {
      if (u.done || u.chip != static_cast<int>(&c - chips.data())) continue;
      if (!c.present) {
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
        urb->status = -ENODEV;
        urb->actual_length = 0;
        u.done = true;
        ++c.counters.enodev_completions;
        continue;
      }
      TryCompleteIn(c, u, now);
    }
  }

  static void Free(Urb& u) {
    g_clear_object(&u.buffer);
    g_clear_object(&u.data);
  }

  gboolean HandleIoctl(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex);
    // A node of a device that was unplugged (and perhaps plugged again under a new
    // address) belongs to no chip any more: its URBs were failed at the unplug.
    Chip* c = ChipOf(client);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto fail = [client](int error) {
      umockdev_ioctl_client_complete(client, -1, error);
      return TRUE;
    };
    auto ok = [client] {
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    };

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
      if (c != nullptr) Service(*c);
      for (auto it = urbs.begin(); it != urbs.end(); ++it) {
        if (it->client != client || !it->done) continue;
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, it->data);
        g_object_unref(slot);
        Urb u = *it;
        urbs.erase(it);
        umockdev_ioctl_client_complete(client, 0, 0);
        Free(u);
        return TRUE;
      }
      return fail(c != nullptr && c->present ? EAGAIN : ENODEV);
    }
    if (c == nullptr || !c->present) return fail(ENODEV);

    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32*>(d->data) =
            USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
            USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        g_object_unref(d);
        return ok();
      }
      case USBDEVFS_CLAIMINTERFACE:
        // The kernel refuses the claim while its serial driver holds the interface.
        return c->counters.kernel_driver_bound ? fail(EBUSY) : ok();
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESET:
      case USBDEVFS_RESETEP:
      case USBDEVFS_SETCONFIGURATION:
        return ok();
      case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData* d =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        auto* g = reinterpret_cast<usbdevfs_getdriver*>(d->data);
        const bool bound = c->counters.kernel_driver_bound && g->interface == 0;
        if (bound) std::snprintf(g->driver, sizeof g->driver, "ftdi_sio");
        g_object_unref(d);
        return bound ? ok() : fail(ENODATA);
      }
      case USBDEVFS_DISCONNECT_CLAIM: {
        UMockdevIoctlData* d =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_disconnect_claim), nullptr);
        const auto* dc = reinterpret_cast<const usbdevfs_disconnect_claim*>(d->data);
        const bool skip = (dc->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) != 0 &&
                          !c->counters.kernel_driver_bound;
        g_object_unref(d);
        if (!skip && c->counters.kernel_driver_bound) {
          c->counters.kernel_driver_bound = false;
          ++c->counters.detaches;
        }
        return ok();
      }
      case USBDEVFS_IOCTL: {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
        const int code = reinterpret_cast<const usbdevfs_ioctl*>(d->data)->ioctl_code;
        g_object_unref(d);
        if (code == static_cast<int>(USBDEVFS_DISCONNECT)) {
          if (!c->counters.kernel_driver_bound) return fail(ENODATA);
          c->counters.kernel_driver_bound = false;
          ++c->counters.detaches;
          return ok();
        }
        if (code == static_cast<int>(USBDEVFS_CONNECT)) {
          if (!c->counters.kernel_driver_bound) {
            c->counters.kernel_driver_bound = true;
            ++c->counters.attaches;
          }
          return ok();
        }
        return fail(ENOTTY);
      }
      case USBDEVFS_SUBMITURB: {
        Urb u;
        u.client = client;
        u.chip = static_cast<int>(c - chips.data());
        u.submitted_ms = clock.NowMs();
        u.data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
        u.buffer = umockdev_ioctl_data_resolve(u.data, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                               static_cast<gsize>(urb->buffer_length), nullptr);
        if (u.data == nullptr || u.buffer == nullptr) {
          Free(u);
          return fail(EINVAL);
        }
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
          if (urb->buffer_length < kSetupSize) {
            Free(u);
            return fail(EINVAL);
          }
          Control(*c, u);
        } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == 0x02) {
          std::uint32_t written = 0;
          if (c->link != nullptr)
            c->link->Write(u.buffer->data, static_cast<std::uint32_t>(urb->buffer_length), written);
          c->counters.bulk_out_bytes += static_cast<std::uint64_t>(urb->buffer_length);
          urb->actual_length = urb->buffer_length;
          urb->status = 0;
          u.done = true;
        } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == 0x81) {
          TryCompleteIn(*c, u, u.submitted_ms);
        } else {
          Free(u);
          return fail(EINVAL);
        }
        urbs.push_back(u);
        return ok();
      }
      case USBDEVFS_DISCARDURB: {
        const gulong address = *reinterpret_cast<gulong*>(arg->data);
        for (Urb& u : urbs) {
          if (u.client != client || u.data->client_addr != address || u.done) continue;
          auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
          urb->status = -ENOENT;
          urb->actual_length = 0;
          u.done = true;
          return ok();
        }
        return fail(EINVAL);
      }
      default:
        return fail(ENOTTY);
    }
  }

  void ClientConnected(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Chip* c = ChipOf(client)) ++c->counters.opens;
  }

  void ClientVanished(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = urbs.begin(); it != urbs.end();) {
      if (it->client == client) {
        Free(*it);
        it = urbs.erase(it);
      } else {
        ++it;
      }
    }
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<Impl*>(self)->HandleIoctl(client);
  }
  static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<Impl*>(self)->ClientConnected(client);
  }
  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<Impl*>(self)->ClientVanished(client);
  }

  // Adds the chip's device to the testbed at its current address; without the lock, as
  // umockdev's thread may call the handler meanwhile.
  void AddDevice(const Chip& c) {
    char node[64];
    std::snprintf(node, sizeof node, "bus/usb/001/%03d", c.address);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, c.devnode.c_str(), handler, &error)) {
      const std::string message = error != nullptr ? error->message : "attach_ioctl failed";
      g_clear_error(&error);
      throw std::runtime_error(message);
    }
    char text[2048];
    std::snprintf(text, sizeof text,
                  "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
                  "N: %s\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DRIVER=usb\n"
                  "E: DEVNAME=/dev/%s\n"
                  "E: BUSNUM=001\n"
                  "E: DEVNUM=%03d\n"
                  "E: PRODUCT=%x/%x/600\n"
                  "A: busnum=1\\n\n"
                  "A: devnum=%d\\n\n"
                  "A: bConfigurationValue=1\\n\n"
                  "A: speed=12\\n\n"
                  "A: idVendor=%04x\\n\n"
                  "A: idProduct=%04x\\n\n"
                  "H: descriptors=%s\n",
                  c.port, node, node, c.address, c.spec.vendor, c.spec.product, c.address,
                  c.spec.vendor, c.spec.product, Hex(Descriptors(c.spec)).c_str());
    if (!umockdev_testbed_add_from_string(testbed, text, &error)) {
      const std::string message = error != nullptr ? error->message : "add_from_string failed";
      g_clear_error(&error);
      throw std::runtime_error(message);
    }
  }
};

EmulatedBus::EmulatedBus() : impl_(std::make_unique<Impl>()) {
  impl_->chips.reserve(16);  // Chip pointers stay valid while tests plug adapters
  impl_->testbed = umockdev_testbed_new();
  gchar* root = umockdev_testbed_get_root_dir(impl_->testbed);
  root_dir_ = root;
  g_free(root);
  impl_->handler = umockdev_ioctl_base_new();
  g_signal_connect(impl_->handler, "handle-ioctl", G_CALLBACK(&Impl::OnIoctl), impl_.get());
  g_signal_connect(impl_->handler, "client-connected", G_CALLBACK(&Impl::OnConnected), impl_.get());
  g_signal_connect(impl_->handler, "client-vanished", G_CALLBACK(&Impl::OnVanished), impl_.get());
}

EmulatedBus::~EmulatedBus() {
  g_clear_object(&impl_->testbed);
  g_clear_object(&impl_->handler);
  for (Impl::Urb& u : impl_->urbs) Impl::Free(u);
  impl_->urbs.clear();
}

int EmulatedBus::Plug(const ChipSpec& spec, const std::function<void(sim::Adapter&)>& setup) {
  Impl::Chip* c = nullptr;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const int number = static_cast<int>(impl_->chips.size());
    impl_->chips.emplace_back();
    c = &impl_->chips.back();
    c->spec = spec;
    c->port = number + 2;
    c->address = impl_->next_address++;
    char devnode[64];
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03d", c->address);
    c->devnode = devnode;
    c->syspath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(c->port);
    // Each adapter of the model gets a name of its own, so it is opened exactly; the host
    // never sees it (it reads the chip's string descriptors).
    const std::string key = "chip" + std::to_string(number);
    c->adapter = &impl_->bus.Plug(key);
    if (setup) setup(*c->adapter);
    impl_->bus.Open(AdapterKey::kDescription, key, 0, c->link);
    c->counters.kernel_driver_bound = spec.kernel_driver_bound;
    c->line_ms = impl_->clock.NowMs();
    c->present = true;
  }
  // chips never grows while a test runs the program, but keep the lock off the testbed
  // calls: they wait for umockdev's thread, which may be waiting for the lock.
  impl_->AddDevice(*c);
  return static_cast<int>(impl_->chips.size()) - 1;
}

void EmulatedBus::Unplug(int chip) {
  std::string syspath;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Impl::Chip& c = impl_->chips.at(static_cast<std::size_t>(chip));
    if (!c.present) return;
    c.present = false;
    impl_->bus.Unplug(*c.adapter);
    // The sensor is powered through the adapter: it starts again without its report mode.
    if (c.adapter->Sensor() != nullptr) c.adapter->Sensor()->Restart();
    if (c.link != nullptr) c.link->Close();
    c.link.reset();
    c.line.clear();
    c.fifo.clear();
    impl_->Service(c);  // what was in flight now fails
    syspath = c.syspath;
  }
  umockdev_testbed_uevent(impl_->testbed, syspath.c_str(), "remove");
  umockdev_testbed_remove_device(impl_->testbed, syspath.c_str());
}

void EmulatedBus::Replug(int chip) {
  Impl::Chip* c = nullptr;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    c = &impl_->chips.at(static_cast<std::size_t>(chip));
    if (c->present) return;
    c->address = impl_->next_address++;
    char devnode[64];
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03d", c->address);
    c->devnode = devnode;
    impl_->bus.Replug(*c->adapter);
    impl_->bus.Open(AdapterKey::kDescription, c->adapter->Description(), 0, c->link);
    // A fresh device: the kernel binds its serial driver again.
    c->counters.kernel_driver_bound = c->spec.kernel_driver_bound;
    c->line_ms = impl_->clock.NowMs();
    c->present = true;
  }
  impl_->AddDevice(*c);
}

void EmulatedBus::StallStrings(int chip, bool stall) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->chips.at(static_cast<std::size_t>(chip)).spec.stall_strings = stall;
}

ChipCounters EmulatedBus::Counters(int chip) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->chips.at(static_cast<std::size_t>(chip)).counters;
}

void EmulatedBus::WithModel(int chip, const std::function<void(sim::Adapter&)>& f) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->bus.Update();
  f(*impl_->chips.at(static_cast<std::size_t>(chip)).adapter);
}

std::int64_t EmulatedBus::NowMs() const {
  return impl_->clock.NowMs();
}

std::string EmulatedBus::DevNode(int chip) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->chips.at(static_cast<std::size_t>(chip)).devnode;
}

namespace {

bool ParseHex(const std::string& text, std::vector<std::uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(text.c_str() + i, "%2x", &value) != 1) return false;
    out.push_back(static_cast<std::uint8_t>(value));
  }
  return true;
}

}  // namespace

bool LoadScenario(const std::string& path, Scenario& out, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  out = Scenario{};
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    bool ok = true;
    if (key == "vendor" || key == "product") {
      unsigned id = 0;
      ok = static_cast<bool>(fields >> std::hex >> id);
      (key == "vendor" ? out.spec.vendor : out.spec.product) = static_cast<std::uint16_t>(id);
    } else if (key == "string") {
      int which = 0;
      ok = static_cast<bool>(fields >> which);
      std::string text;
      std::getline(fields >> std::ws, text);
      if (which == 1)
        out.spec.manufacturer = text;
      else if (which == 2)
        out.spec.description = text;
      else if (which == 3)
        out.spec.serial = text;
    } else if (key == "vendor_in") {
      unsigned request = 0, value = 0, index = 0;
      std::string hex;
      std::vector<std::uint8_t> answer;
      ok = static_cast<bool>(fields >> std::hex >> request >> value >> index) &&
           (!(fields >> hex) || ParseHex(hex, answer));
      out.spec.vendor_in[VendorKey(static_cast<std::uint8_t>(request),
                                   static_cast<std::uint16_t>(value),
                                   static_cast<std::uint16_t>(index))] = answer;
    } else if (key == "host" || key == "device") {
      std::string hex;
      std::vector<std::uint8_t> bytes;
      ok = static_cast<bool>(fields >> hex) && ParseHex(hex, bytes);
      (key == "host" ? out.host : out.device).push_back(std::move(bytes));
    }  // vendor_out and anything newer: what the host asked, nothing the chip must do
    if (!ok) {
      error = path + ":" + std::to_string(number) + ": cannot read '" + line + "'";
      return false;
    }
  }
  return true;
}

}  // namespace zelto::usbemu
