#include "crash/report/FieldList.h"

FieldList::FieldList(std::unique_ptr<ILock> lock)
    : lock_(lock ? std::move(lock) : std::make_unique<NullLock>()) {}

int FieldList::Find(const std::string& name) const {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].first == name) return static_cast<int>(i);
  return -1;
}

void FieldList::Set(const std::string& name, const std::string& text) {
  std::lock_guard<ILock> hold(*lock_);
  const int at = Find(name);
  if (TrimBlanks(text).empty()) {
    if (at >= 0) {
      fields_.erase(fields_.begin() + at);
      if (insertion_index_ > at) --insertion_index_;
    }
    return;
  }
  if (at >= 0) {
    fields_[static_cast<std::size_t>(at)].second = text;
    return;
  }
  if (insertion_index_ >= 0 && static_cast<std::size_t>(insertion_index_) < fields_.size()) {
    fields_.insert(fields_.begin() + insertion_index_, Field(name, text));
    ++insertion_index_;
  } else {
    fields_.emplace_back(name, text);
    if (insertion_index_ >= 0) insertion_index_ = static_cast<int>(fields_.size());
  }
}

void FieldList::Remove(const std::string& name) { Set(name, std::string()); }

std::string FieldList::Get(const std::string& name) const {
  std::lock_guard<ILock> hold(*lock_);
  const int at = Find(name);
  return at >= 0 ? fields_[static_cast<std::size_t>(at)].second : std::string();
}

bool FieldList::Has(const std::string& name) const {
  std::lock_guard<ILock> hold(*lock_);
  return Find(name) >= 0;
}

std::size_t FieldList::Count() const {
  std::lock_guard<ILock> hold(*lock_);
  return fields_.size();
}

Fields FieldList::Snapshot() const {
  std::lock_guard<ILock> hold(*lock_);
  return fields_;
}

void FieldList::SetInsertionIndex(int index) {
  std::lock_guard<ILock> hold(*lock_);
  insertion_index_ = index < 0 ? -1 : index;
}

int FieldList::InsertionIndex() const {
  std::lock_guard<ILock> hold(*lock_);
  return insertion_index_;
}

void FieldList::SetInsertionIndexBefore(const std::string& name) {
  std::lock_guard<ILock> hold(*lock_);
  insertion_index_ = Find(name);
}

std::string TrimBlanks(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

std::string TrimRightBlanks(const std::string& text) {
  std::size_t last = text.size();
  while (last > 0 && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(0, last);
}
