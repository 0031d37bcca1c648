// SPDX-License-Identifier: Apache-2.0
// MessagePack decode and encode throughput of the companion codec against msgpack-c (the C
// library of Debian's libmsgpack-dev) on the same documents:
//   - file_list: a 2FA list reply (maps of short strings, a small byte string, a flags array);
//   - envelope: GKS envelopes (a few keys around a 1 KiB and a 24-byte byte string);
//   - records: mixed records (signed and unsigned numbers, Chinese and Latin strings, nested
//     arrays, booleans, nil).
//
//   kavi_companion_bench --benchmark_repetitions=5
//
// MB/s is the document's size over the time of one decode or one encode. msgpack-c decodes
// into its zone without copying strings (they point into the input) and checks neither UTF-8
// nor duplicate keys; the Kavi codec checks both and sorts maps that arrive out of order.
// KaviDecode copies every string into the value it returns; KaviDecodeBorrowed
// (PackDecodeBorrowed, what the envelopes use) leaves the longer ones in the input as msgpack-c
// does. Encoding starts from the decoded value in both (msgpack-c: msgpack_pack_object into an
// sbuffer).
#include <benchmark/benchmark.h>
#include <msgpack.h>

#include <cstdlib>
#include <random>
#include <string>

#include "companion/pack_codec.h"

namespace {

using kavi::win::PackDecode;
using kavi::win::PackEncode;
using kavi::win::PackEncodeTo;
using kavi::win::PackValue;

constexpr size_t kDocumentBytes = 256 * 1024;

std::string RandomBytes(std::mt19937& random, size_t n) {
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

std::string MakeFileList() {
  std::mt19937 random(1);
  static constexpr const char* kIssuers[] = {"GitHub", "Google",       "Proton",   "Fastmail",
                                             "AWS",    "Debian Salsa", "Mastodon", "Bitwarden"};
  PackValue list = PackValue::Array();
  for (size_t i = 0, bytes = 0; bytes < kDocumentBytes; ++i) {
    PackValue data = PackValue::Map(
        {{"issuer", PackValue::String(kIssuers[i % 8])},
         {"account", PackValue::String("user" + std::to_string(i) + "@example.org")}});
    PackValue item = PackValue::Map({
        {"id", PackValue::String("e-" + std::to_string(100000 + i))},
        {"type", PackValue::String("totp")},
        {"status", PackValue::String(i % 9 == 0 ? "archived" : "active")},
        {"data_plain", PackValue::Binary(PackEncode(data))},
        {"flags", PackValue::Array({PackValue::String("pinned")})},
        {"updated", PackValue::Uint(1700000000u + random() % 1000000)},
    });
    bytes += PackEncode(item).size();
    list.Push(std::move(item));
  }
  return PackEncode(PackValue::Map({{"list_ver", PackValue::Uint(42)},
                                    {"file_list", std::move(list)},
                                    {"deleted", PackValue::Array()}}));
}

std::string MakeEnvelopes() {
  std::mt19937 random(2);
  PackValue all = PackValue::Array();
  for (size_t bytes = 0; bytes < kDocumentBytes;) {
    PackValue gks = PackValue::Map({{"app_ver", PackValue::String("0.5.1")},
                                    {"box", PackValue::Binary(RandomBytes(random, 1024))},
                                    {"id", PackValue::String("app.3f1c9a2e-77d0")},
                                    {"n", PackValue::Binary(RandomBytes(random, 24))}});
    PackValue envelope = PackValue::Map(
        {{"gks", std::move(gks)}, {"seal", PackValue::Binary(RandomBytes(random, 96))}});
    bytes += PackEncode(envelope).size();
    all.Push(std::move(envelope));
  }
  return PackEncode(all);
}

std::string MakeRecords() {
  std::mt19937 random(3);
  static constexpr const char* kWords[] = {
      "中文", "輸入法",   "雲端詞彙",
      "拼音", "keyboard", "a rather longer latin description of a record"};
  PackValue all = PackValue::Array();
  for (size_t i = 0, bytes = 0; bytes < kDocumentBytes; ++i) {
    PackValue scores = PackValue::Array();
    for (int k = 0; k < 4; ++k) scores.Push(PackValue::Int(static_cast<int32_t>(random()) % 70000));
    PackValue record = PackValue::Map({
        {"n", PackValue::Uint(random())},
        {"delta", PackValue::Int(-static_cast<int64_t>(random() % 5000))},
        {"word", PackValue::String(kWords[random() % 6])},
        {"ok", PackValue::Bool(random() % 2 == 0)},
        {"none", PackValue::Nil()},
        {"scores", std::move(scores)},
        {"tag", PackValue::String("t" + std::to_string(i % 100))},
    });
    bytes += PackEncode(record).size();
    all.Push(std::move(record));
  }
  return PackEncode(all);
}

const std::string& Document(int which) {
  static const std::string documents[] = {MakeFileList(), MakeEnvelopes(), MakeRecords()};
  return documents[which];
}

constexpr const char* kNames[] = {"file_list", "envelope", "records"};

void KaviDecode(benchmark::State& state) {
  const std::string& doc = Document(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  std::string error;
  for (auto _ : state) {
    PackValue value;
    if (!PackDecode(doc, &value, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void KaviDecodeBorrowed(benchmark::State& state) {
  const std::string& doc = Document(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  std::string error;
  for (auto _ : state) {
    PackValue value;
    if (!kavi::win::PackDecodeBorrowed(doc, &value, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void KaviEncode(benchmark::State& state) {
  const std::string& doc = Document(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  PackValue value;
  std::string error;
  PackDecode(doc, &value, &error);
  std::string out;
  for (auto _ : state) {
    out.clear();
    PackEncodeTo(value, &out);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != doc) state.SkipWithError("not the same bytes");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void MsgpackDecode(benchmark::State& state) {
  const std::string& doc = Document(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  for (auto _ : state) {
    msgpack_unpacked result;
    msgpack_unpacked_init(&result);
    size_t offset = 0;
    if (msgpack_unpack_next(&result, doc.data(), doc.size(), &offset) != MSGPACK_UNPACK_SUCCESS)
      state.SkipWithError("msgpack-c failed");
    benchmark::DoNotOptimize(result.data);
    msgpack_unpacked_destroy(&result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void MsgpackEncode(benchmark::State& state) {
  const std::string& doc = Document(static_cast<int>(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  msgpack_unpacked result;
  msgpack_unpacked_init(&result);
  size_t offset = 0;
  msgpack_unpack_next(&result, doc.data(), doc.size(), &offset);
  msgpack_sbuffer buffer;
  msgpack_sbuffer_init(&buffer);
  msgpack_packer packer;
  msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
  for (auto _ : state) {
    msgpack_sbuffer_clear(&buffer);
    msgpack_pack_object(&packer, result.data);
    benchmark::DoNotOptimize(buffer.data);
  }
  if (buffer.size != doc.size()) state.SkipWithError("not the same size");
  msgpack_sbuffer_destroy(&buffer);
  msgpack_unpacked_destroy(&result);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

BENCHMARK(KaviDecode)->DenseRange(0, 2);
BENCHMARK(KaviDecodeBorrowed)->DenseRange(0, 2);
BENCHMARK(MsgpackDecode)->DenseRange(0, 2);
BENCHMARK(KaviEncode)->DenseRange(0, 2);
BENCHMARK(MsgpackEncode)->DenseRange(0, 2);

}  // namespace

BENCHMARK_MAIN();
