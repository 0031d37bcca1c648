// SPDX-License-Identifier: Apache-2.0
#include "tools/voice-ggml/gguf_file.h"

#include <cstring>

namespace kavi::win {
namespace {

constexpr char kMagic[] = "GGUF";
// More would only be a broken or hostile file: a recogniser model has tens of entries.
constexpr uint64_t kMaxEntries = 1 << 20;
constexpr uint32_t kMaxDims = 4;

enum ValueType : uint32_t {
  kU8 = 0, kI8 = 1, kU16 = 2, kI16 = 3, kU32 = 4, kI32 = 5, kF32 = 6, kBool = 7,
  kString = 8, kArray = 9, kU64 = 10, kI64 = 11, kF64 = 12,
};

uint64_t ScalarBytes(uint32_t type) {
  switch (type) {
    case kU8: case kI8: case kBool: return 1;
    case kU16: case kI16: return 2;
    case kU32: case kI32: case kF32: return 4;
    case kU64: case kI64: case kF64: return 8;
    default: return 0;
  }
}

class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  bool Skip(uint64_t n) {
    if (n > bytes_.size() - at_) return false;
    at_ += static_cast<size_t>(n);
    return true;
  }
  template <typename T>
  bool Read(T* value) {
    if (sizeof(T) > bytes_.size() - at_) return false;
    std::memcpy(value, bytes_.data() + at_, sizeof(T));  // the file is little-endian, as we are
    at_ += sizeof(T);
    return true;
  }
  bool ReadString(std::string* out) {
    uint64_t length = 0;
    if (!Read(&length) || length > bytes_.size() - at_) return false;
    out->assign(bytes_.substr(at_, static_cast<size_t>(length)));
    at_ += static_cast<size_t>(length);
    return true;
  }
  size_t at() const { return at_; }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

bool SkipValue(Cursor* in, uint32_t type, int depth) {
  if (type == kString) {
    std::string ignored;
    return in->ReadString(&ignored);
  }
  if (type == kArray) {
    uint32_t element = 0;
    uint64_t count = 0;
    if (depth > 2 || !in->Read(&element) || !in->Read(&count)) return false;
    if (const uint64_t size = ScalarBytes(element)) {
      return count <= UINT64_MAX / size && in->Skip(count * size);
    }
    if (count > kMaxEntries) return false;
    for (uint64_t i = 0; i < count; ++i)
      if (!SkipValue(in, element, depth + 1)) return false;
    return true;
  }
  const uint64_t size = ScalarBytes(type);
  return size > 0 && in->Skip(size);
}

bool ReadInteger(Cursor* in, uint32_t type, uint64_t* value) {
  switch (ScalarBytes(type)) {
    case 1: { uint8_t v; if (!in->Read(&v)) return false; *value = v; return true; }
    case 2: { uint16_t v; if (!in->Read(&v)) return false; *value = v; return true; }
    case 4: { uint32_t v; if (!in->Read(&v)) return false; *value = v; return true; }
    default: return in->Read(value);
  }
}

bool Fail(std::string* error, const char* reason) {
  *error = reason;
  return false;
}

void PutU32(std::string* out, uint32_t v) { out->append(reinterpret_cast<const char*>(&v), 4); }
void PutU64(std::string* out, uint64_t v) { out->append(reinterpret_cast<const char*>(&v), 8); }
void PutString(std::string* out, std::string_view s) {
  PutU64(out, s.size());
  out->append(s);
}
uint64_t AlignUp(uint64_t n, uint64_t alignment) {
  return (n + alignment - 1) / alignment * alignment;
}

}  // namespace

const GgufTensor* GgufIndex::Find(std::string_view name) const {
  for (const GgufTensor& tensor : tensors)
    if (tensor.name == name) return &tensor;
  return nullptr;
}

std::string GgufIndex::String(std::string_view key) const {
  const auto found = strings.find(std::string(key));
  return found == strings.end() ? std::string() : found->second;
}

bool ParseGguf(std::string_view file, GgufIndex* index, std::string* error) {
  *index = GgufIndex{};
  Cursor in(file);
  uint32_t magic = 0, version = 0;
  uint64_t tensor_count = 0, kv_count = 0;
  if (!in.Read(&magic) || std::memcmp(&magic, kMagic, 4) != 0) return Fail(error, "not a GGUF file");
  if (!in.Read(&version) || version != kGgufVersion) return Fail(error, "not a GGUF version 3 file");
  if (!in.Read(&tensor_count) || !in.Read(&kv_count) || tensor_count > kMaxEntries ||
      kv_count > kMaxEntries)
    return Fail(error, "GGUF counts out of range");
  for (uint64_t i = 0; i < kv_count; ++i) {
    std::string key;
    uint32_t type = 0;
    if (!in.ReadString(&key) || !in.Read(&type)) return Fail(error, "truncated GGUF metadata");
    if (type == kString) {
      std::string value;
      if (!in.ReadString(&value)) return Fail(error, "truncated GGUF metadata");
      index->strings[key] = std::move(value);
    } else if (type != kBool && type != kF32 && type != kF64 && ScalarBytes(type) > 0) {
      uint64_t value = 0;
      if (!ReadInteger(&in, type, &value)) return Fail(error, "truncated GGUF metadata");
      index->integers[key] = value;
    } else if (!SkipValue(&in, type, 0)) {
      return Fail(error, "invalid GGUF metadata value");
    }
  }
  for (uint64_t i = 0; i < tensor_count; ++i) {
    GgufTensor tensor;
    uint32_t dims = 0;
    if (!in.ReadString(&tensor.name) || !in.Read(&dims) || dims == 0 || dims > kMaxDims)
      return Fail(error, "invalid GGUF tensor");
    uint64_t elements = 1;
    for (uint32_t d = 0; d < dims; ++d) {
      uint64_t size = 0;
      if (!in.Read(&size)) return Fail(error, "invalid GGUF tensor");
      tensor.dims.push_back(size);
      elements = size != 0 && elements > UINT64_MAX / size ? UINT64_MAX : elements * size;
    }
    if (!in.Read(&tensor.type) || !in.Read(&tensor.offset)) return Fail(error, "invalid GGUF tensor");
    if (tensor.type == kGgmlTypeI8) tensor.bytes = elements;
    index->tensors.push_back(std::move(tensor));
  }
  uint64_t alignment = kGgufDefaultAlignment;
  if (auto found = index->integers.find(kGgufAlignmentKey); found != index->integers.end())
    alignment = found->second;
  if (alignment == 0 || alignment > 65536 || (alignment & (alignment - 1)) != 0)
    return Fail(error, "invalid GGUF alignment");
  const uint64_t data_start = AlignUp(in.at(), alignment);
  for (GgufTensor& tensor : index->tensors) {
    if (tensor.offset % alignment != 0 || data_start > file.size() ||
        tensor.offset > file.size() - data_start ||
        tensor.bytes > file.size() - data_start - tensor.offset)
      return Fail(error, "GGUF tensor outside the file");
    tensor.offset += data_start;
  }
  error->clear();
  return true;
}

void GgufWriter::AddString(std::string key, std::string value) {
  strings_.emplace_back(std::move(key), std::move(value));
}

void GgufWriter::AddByteTensor(std::string name, std::string bytes) {
  tensors_.emplace_back(std::move(name), std::move(bytes));
}

std::string GgufWriter::Finish() const {
  std::string out(kMagic, 4);
  PutU32(&out, kGgufVersion);
  PutU64(&out, tensors_.size());
  PutU64(&out, strings_.size() + 1);
  PutString(&out, kGgufAlignmentKey);
  PutU32(&out, kU32);
  PutU32(&out, kGgufDefaultAlignment);
  for (const auto& [key, value] : strings_) {
    PutString(&out, key);
    PutU32(&out, kString);
    PutString(&out, value);
  }
  uint64_t offset = 0;
  for (const auto& [name, bytes] : tensors_) {
    PutString(&out, name);
    PutU32(&out, 1);
    PutU64(&out, bytes.size());
    PutU32(&out, kGgmlTypeI8);
    PutU64(&out, offset);
    offset = AlignUp(offset + bytes.size(), kGgufDefaultAlignment);
  }
  out.resize(AlignUp(out.size(), kGgufDefaultAlignment), '\0');
  for (const auto& [name, bytes] : tensors_) {
    out += bytes;
    out.resize(AlignUp(out.size(), kGgufDefaultAlignment), '\0');
  }
  return out;
}

}  // namespace kavi::win
