#pragma once

#include <memory>
#include <string>
#include <vector>

// The copy protocol: an object takes another's values with Assign; when it does not know the
// source's kind it asks the source to copy itself (AssignTo), and when neither knows the
// other the copy fails with "Cannot assign a <source class> to a <destination class>".
class TPersistent {
public:
  virtual ~TPersistent() = default;

  virtual void Assign(const TPersistent* Source);
  virtual void AssignTo(TPersistent* Dest) const;

  // The class name of the most derived type ("TAuInput").
  std::string ClassName() const;

protected:
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

enum TOperation { opInsert, opRemove };

// A component has an owner that destroys it, a name, and is told when a component it knows
// is removed: every component of its owner, and every component it asked to be told about
// (FreeNotification).
//
// Destroy a component with Free() or through its owner: they tell the others while the
// component is still whole, so that, for example, an output stops pulling from an input before
// any part of the input is gone. The destructor tells them too, as a last resort.
// Components are created, used and destroyed on one thread (the user-interface thread).
class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(std::string Value) { FName = std::move(Value); }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const { return FComponents.at(Index); }

  // AComponent is told (Notification with opRemove) when this component is removed, and the
  // other way round.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  void Free();

protected:
  // Called before anything is removed; the place for a component to stop its own threads.
  virtual void BeforeDestruction() {}
  virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
  void Destroying();
  void RemoveComponent(TComponent* AComponent);

  TComponent* FOwner;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  bool FDestroying = false;
};

struct TComponentDeleter {
  void operator()(TComponent* Component) const { Component->Free(); }
};

// A component owned by a smart pointer rather than by another component.
template <class T> using TComponentPtr = std::unique_ptr<T, TComponentDeleter>;
