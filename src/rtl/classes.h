// Toolkit base types used across the core: the root object, the component with its owner,
// bound callbacks, rectangles, and the string list.
#ifndef KORVALE_RTL_CLASSES_H
#define KORVALE_RTL_CLASSES_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TObject {
 public:
  virtual ~TObject() = default;
};

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TRect& o) const {
    return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
  }
};

// A callback bound to an object, called with the sender.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// A component: owned by its owner, which destroys its components (last created first).  The
// owner's stored settings are applied after construction, then SettingsApplied() runs.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // The notification that the stored settings have been applied.
  virtual void SettingsApplied() {}
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Component(int i) const { return components_.at(static_cast<size_t>(i)); }

 private:
  void InsertComponent(TComponent* c) { components_.push_back(c); }
  void RemoveComponent(TComponent* c);
  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> components_;
};

// Ordered strings with 0-based access; a bad index raises EStringListError with
// "リストのインデックスが範囲を超えています (%d)".
class TStringList : public TObject {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Get(int index) const;
  const std::string& operator[](int index) const { return Get(index); }
  void Put(int index, const std::string& s);
  int Add(const std::string& s);
  void Insert(int index, const std::string& s);
  void Delete(int index);
  void Clear() { items_.clear(); }
  int IndexOf(const std::string& s) const;  // exact comparison; -1 if absent
  const std::vector<std::string>& Items() const { return items_; }
  std::vector<std::string>& MutableItems() { return items_; }

 private:
  [[noreturn]] static void IndexError(int index);
  std::vector<std::string> items_;
};

// Raises EStringListError for `index` (shared by every list of the system).
[[noreturn]] void ListIndexError(int index);

#endif
