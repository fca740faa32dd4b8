// The whole receive path over loopback: a local server sends chat-like lines, the connection thread
// receives and splits them and calls "recv" of a script that counts them. Reported in lines per
// second of wall time, from the connect until the server's close has been seen.
#include <benchmark/benchmark.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "connection/connection.h"
#include "engine/context_parse.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/host.h"
#include "engine/name_table.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace {

constexpr int LINES = 200000;

std::string chat_lines(int count) {
  std::mt19937 random(19);
  std::uniform_int_distribution<int> length(20, 400);
  std::uniform_int_distribution<int> letter(0x20, 0x7E);
  std::string data;
  for (int line = 0; line < count; ++line) {
    int bytes = length(random);
    for (int i = 0; i < bytes; ++i)
      data.push_back(static_cast<char>(letter(random)));
    data += "\r\n";
  }
  return data;
}

std::intptr_t discard(Host*, std::uint32_t, std::uintptr_t, std::intptr_t) {
  return 0;
}
Host quiet_host() {
  Host host{};
  host.error_echo_request = UM_LINEECHO;
  host.deliver = discard;
  return host;
}
Host QuietHost = quiet_host();

Script* counting_script() {
  Script* set = create_script_set(0);
  set->host = &QuietHost;
  Script* module = alloc_record<Script>();
  module->name = dup_string("main");
  module->text =
      dup_string("n = 0;\nfunction recv(line) { n++; }\nfunction count() { return n; }\n");
  module->root = set;
  module->host = set->host;
  set->next = module;
  CallContext owner{};
  owner.script = module;
  module->code = parse_script_text(&owner, module->text, 0);
  assign_name_tables(module);
  run_top_level(module);
  return set;
}

struct Bench {
  Script* scripts;
  std::uint16_t port;
  std::atomic<bool> ended;
};

ConnectionPeer bench_peer(Bench* bench) {
  ConnectionPeer peer{};
  peer.context = bench;
  peer.show_line = [](void*, const char*) {};
  peer.show_text = [](void*, const char*) {};
  peer.state_changed = [](void* context, std::int32_t state) {
    if (state == 2) static_cast<Bench*>(context)->ended.store(true);
  };
  peer.deliver_line = [](void* context, const char* line) {
    ValueNode* argument = make_node();
    set_string_value(argument->value, line);
    ValueNode* result = call_event(static_cast<Bench*>(context)->scripts, "recv", argument, 0, 0);
    bool ok = result != CALL_FAILED;
    free_node(result);
    free_node(argument);
    return ok;
  };
  peer.server_name = [](void*) -> const char* { return "127.0.0.1"; };
  peer.server_port = [](void* context) {
    return static_cast<std::int32_t>(static_cast<Bench*>(context)->port);
  };
  return peer;
}

void BM_ReceiveLinesThroughRecv(benchmark::State& state) {
  engine_start();
  sockets_start();
  std::string data = chat_lines(LINES);
  Bench bench{counting_script(), 0, {false}};
  Connection connection;
  connection_init(&connection, bench_peer(&bench));
  for (auto _ : state) {
    UniqueSocket listener(socket_open_tcp());
    std::uint32_t address = 0;
    socket_bind(listener.get(), 0x7F000001, 0);
    socket_listen(listener.get(), 1);
    socket_local_address(listener.get(), &address, &bench.port);
    bench.ended.store(false);
    std::thread server([&] {
      UniqueSocket client(socket_accept(listener.get()));
      for (std::size_t done = 0; done < data.size();) {
        std::int32_t sent = socket_send(client.get(), data.data() + done,
                                        static_cast<std::int32_t>(data.size() - done), 0);
        if (sent <= 0) break;
        done += static_cast<std::size_t>(sent);
      }
    });
    connection_start(&connection);
    while (!bench.ended.load())
      sleep_milliseconds(1);
    server.join();
    connection_stop(&connection);
  }
  ValueNode* counted = call_event(bench.scripts, "count", nullptr, 0, 0);
  std::int64_t lines = counted != CALL_FAILED ? number_of_any_value(counted->value) : 0;
  free_node(counted);
  if (lines != static_cast<std::int64_t>(state.iterations()) * LINES)
    state.SkipWithError("recv did not count every line");
  state.counters["lines"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  connection_free(&connection);
  release_script_set(&bench.scripts);
  sockets_end();
  engine_end();
}
BENCHMARK(BM_ReceiveLinesThroughRecv)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
