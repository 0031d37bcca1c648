// SPDX-License-Identifier: Apache-2.0
// ibus-engine-kavi: Kavi inside IBus. ibus-daemon starts it (with --ibus) from the component
// file; run by hand it registers its component itself, which helps when debugging.
#include <ibus.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/ibus/ibus_engine_kavi.h"
#include "frontend/request_channel.h"

namespace kavi::win {
namespace {

IBusComponent* OwnComponent() {
  IBusComponent* component = ibus_component_new(kIbusBusName, "Kavi input method", "0.5.1",
                                                "Apache-2.0", "Kavi", "", "", "kavi");
  ibus_component_add_engine(
      component, ibus_engine_desc_new(kIbusEngineName, "Kavi", "Kavi 拼音输入法", "zh_CN",
                                      "Apache-2.0", "Kavi", "", "us"));
  return component;
}

int Main(int argc, char** argv) {
  bool by_daemon = false;
  IbusEngineOptions options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ibus") == 0 || std::strcmp(argv[i], "-i") == 0)
      by_daemon = true;
    else if (std::strcmp(argv[i], "--ibus-panel") == 0)
      options.ibus_panel = true;
    else {
      std::fprintf(stderr, "usage: ibus-engine-kavi [--ibus] [--ibus-panel]\n");
      return 2;
    }
  }
  ibus_init();
  IBusBus* bus = ibus_bus_new();
  if (!ibus_bus_is_connected(bus)) {
    std::fprintf(stderr, "ibus-engine-kavi: cannot connect to ibus-daemon\n");
    return 1;
  }
  g_signal_connect(bus, "disconnected", G_CALLBACK(+[](IBusBus*, gpointer) { ibus_quit(); }),
                   nullptr);

  ClientOptions client_options;
  // Tests on a loaded machine may allow the server more time than an application would.
  if (const char* timeout = std::getenv("KAVI_TRANSACTION_TIMEOUT_MS"))
    client_options.transaction_timeout_ms = std::max(kTransactionTimeoutMs, std::atoi(timeout));
  ClientChannel channel(client_options);
  // Start the server now, while nobody is typing yet, rather than at the first key.
  channel.EnsureConnected();
  FrontendConnection connection(channel);
  SetIbusEngineConnection(&connection, options);

  IBusFactory* factory = ibus_factory_new(ibus_bus_get_connection(bus));
  ibus_factory_add_engine(factory, kIbusEngineName, KaviEngineGetType());
  if (by_daemon) {
    ibus_bus_request_name(bus, kIbusBusName, 0);
  } else {
    IBusComponent* component = OwnComponent();
    ibus_bus_register_component(bus, component);
    g_object_unref(component);
  }
  ibus_main();
  g_object_unref(factory);
  g_object_unref(bus);
  return 0;
}

}  // namespace
}  // namespace kavi::win

int main(int argc, char** argv) {
  return kavi::win::Main(argc, argv);
}
