#include "rtl/classes.h"

#include <algorithm>

#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
  // Destroy owned components, the last created first.
  while (!components_.empty()) {
    TComponent* c = components_.back();
    components_.pop_back();
    c->owner_ = nullptr;
    delete c;
  }
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::RemoveComponent(TComponent* c) {
  components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
}

void ListIndexError(int index) { throw EStringListError(Format(msg::kListIndexError, {index})); }

void TStringList::IndexError(int index) { ListIndexError(index); }

const std::string& TStringList::Get(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return items_[static_cast<size_t>(index)];
}

void TStringList::Put(int index, const std::string& s) {
  if (index < 0 || index >= Count()) IndexError(index);
  items_[static_cast<size_t>(index)] = s;
}

int TStringList::Add(const std::string& s) {
  items_.push_back(s);
  return Count() - 1;
}

void TStringList::Insert(int index, const std::string& s) {
  if (index < 0 || index > Count()) IndexError(index);
  items_.insert(items_.begin() + index, s);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) IndexError(index);
  items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[static_cast<size_t>(i)] == s) return i;
  return -1;
}
