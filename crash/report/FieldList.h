// An ordered list of (name, text) pairs with its own lock: the report header
// and the report sections. Safe to call from any thread; every call takes the
// list's lock for its whole duration.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "crash/report/Lock.h"

using Field = std::pair<std::string, std::string>;
using Fields = std::vector<Field>;

class FieldList {
 public:
  // Without a lock the list is for one thread only.
  explicit FieldList(std::unique_ptr<ILock> lock = nullptr);
  FieldList(const FieldList&) = delete;
  FieldList& operator=(const FieldList&) = delete;

  // A text that is empty after trimming blanks removes the pair; an existing
  // name keeps its place and gets the new text; a new name is appended, or
  // inserted at the insertion index (which then moves past it) when set.
  void Set(const std::string& name, const std::string& text);
  void Remove(const std::string& name);

  // Empty when the name is absent.
  std::string Get(const std::string& name) const;
  bool Has(const std::string& name) const;
  std::size_t Count() const;
  // A copy of every pair, in order, taken under the lock.
  Fields Snapshot() const;

  // -1: none. Values past the end append.
  void SetInsertionIndex(int index);
  int InsertionIndex() const;
  // Sets the insertion index to the position of the named field, so later
  // fields stand directly ahead of it; none when the field is absent.
  void SetInsertionIndexBefore(const std::string& name);

 private:
  int Find(const std::string& name) const;

  std::unique_ptr<ILock> lock_;
  Fields fields_;
  int insertion_index_ = -1;
};

// Blank trimming of the report: every character up to the space counts.
std::string TrimBlanks(const std::string& text);
std::string TrimRightBlanks(const std::string& text);
