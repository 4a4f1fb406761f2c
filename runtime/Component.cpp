#include "runtime/Component.h"

#include "runtime/Exception.h"

#include <algorithm>
#include <cxxabi.h>
#include <typeinfo>

void TPersistent::Assign(const TPersistent* Source) {
  if (Source == nullptr)
    AssignError(nullptr);
  Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  Dest->AssignError(this);
}

std::string TPersistent::ClassName() const {
  const char* Mangled = typeid(*this).name();
  int Status = 0;
  std::unique_ptr<char, void (*)(void*)> Demangled(
      abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status), std::free);
  std::string Name = Status == 0 && Demangled ? Demangled.get() : Mangled;
  // The bare class name, without the namespaces around it.
  size_t Colons = Name.rfind("::");
  return Colons == std::string::npos ? Name : Name.substr(Colons + 2);
}

void TPersistent::AssignError(const TPersistent* Source) const {
  std::string SourceName = Source != nullptr ? Source->ClassName() : "nil";
  throw EConvertError(FormatMessage("Cannot assign a %s to a %s", {SourceName, ClassName()}));
}

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner != nullptr)
    FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  Destroying();
}

void TComponent::Free() {
  BeforeDestruction();
  Destroying();
  delete this;
}

void TComponent::Destroying() {
  if (FDestroying)
    return;
  FDestroying = true;
  // Those told may drop themselves from the list while being told: walk a copy.
  std::vector<TComponent*> Told;
  Told.swap(FFreeNotifies);
  for (TComponent* Other : Told) {
    Other->Notification(this, opRemove);
    std::erase(Other->FFreeNotifies, this);
  }
  while (!FComponents.empty())
    FComponents.back()->Free();
  if (FOwner != nullptr)
    FOwner->RemoveComponent(this);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  Notification(AComponent, opRemove);
  std::erase(FComponents, AComponent);
  AComponent->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this)
    return;
  auto Add = [](std::vector<TComponent*>& List, TComponent* C) {
    if (std::find(List.begin(), List.end(), C) == List.end())
      List.push_back(C);
  };
  Add(FFreeNotifies, AComponent);
  Add(AComponent->FFreeNotifies, this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr)
    return;
  std::erase(FFreeNotifies, AComponent);
  std::erase(AComponent->FFreeNotifies, this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr)
    RemoveFreeNotification(AComponent);
  // A child may remove itself while being told: walk a copy.
  std::vector<TComponent*> Children = FComponents;
  for (TComponent* Child : Children)
    if (Child != AComponent)
      Child->Notification(AComponent, Operation);
}
