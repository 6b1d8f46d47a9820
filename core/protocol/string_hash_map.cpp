#include "core/protocol/string_hash_map.h"

uint32_t CStringHashMap::HashName(const std::string& name) {
  uint32_t h = 0;
  for (char c : name) {
    // Bytes above 0x7F count as negative, as the service's other clients hash them.
    h = h * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  }
  return h;
}

CStringHashMap::CAssoc* CStringHashMap::Find(const std::string& name) const {
  const auto found = index_.find(name);
  return found == index_.end() ? nullptr : found->second;
}

CStringHashMap::CAssoc* CStringHashMap::NewAssoc() {
  if (usedInLastBlock_ == BlockSize) {
    blocks_.push_back(std::make_unique<CAssoc[]>(BlockSize));
    usedInLastBlock_ = 0;
  }
  return &blocks_.back()[usedInLastBlock_++];
}

std::string& CStringHashMap::operator[](const std::string& name) {
  if (CAssoc* found = Find(name)) return found->value;
  const uint32_t hash = HashName(name);
  if (!buckets_) buckets_ = std::make_unique<CAssoc*[]>(BucketCount);  // all null
  CAssoc* a = NewAssoc();
  a->hash = hash;
  a->name = name;
  index_.emplace(a->name, a);
  // New entries go to the head of their bucket: the newest name comes first.
  CAssoc*& head = buckets_[hash % BucketCount];
  a->next = head;
  head = a;
  ++count_;
  return a->value;
}

bool CStringHashMap::Lookup(const std::string& name, std::string& value) const {
  const CAssoc* a = Find(name);
  if (!a) return false;
  value = a->value;
  return true;
}

CStringHashMap::Position CStringHashMap::GetStartPosition() const {
  if (count_ == 0 || !buckets_) return nullptr;
  for (unsigned b = 0; b < BucketCount; ++b) {
    if (buckets_[b]) return buckets_[b];
  }
  return nullptr;
}

void CStringHashMap::GetNextAssoc(Position& pos, std::string& name, std::string& value) const {
  const CAssoc* a = pos;
  if (!a) return;
  name = a->name;
  value = a->value;
  if (a->next) {
    pos = a->next;
    return;
  }
  for (unsigned b = a->hash % BucketCount + 1; b < BucketCount; ++b) {
    if (buckets_[b]) {
      pos = buckets_[b];
      return;
    }
  }
  pos = nullptr;
}

void CStringHashMap::RemoveAll() {
  index_.clear();
  buckets_.reset();
  blocks_.clear();
  usedInLastBlock_ = BlockSize;
  count_ = 0;
}
