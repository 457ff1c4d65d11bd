#include "framework/Component.h"

#include "framework/Exception.h"

#include <algorithm>

namespace {

void EraseOne(std::vector<TComponent *> &List, const TComponent *Item)
{
    auto it = std::find(List.begin(), List.end(), Item);
    if (it != List.end())
        List.erase(it);
}

} // namespace

TComponent::TComponent(TComponent *AOwner)
{
    if (AOwner != nullptr)
        AOwner->InsertComponent(this);
}

TComponent::~TComponent()
{
    Destroying();
    // Each partner is unlinked before it is told, so a partner that frees other partners (or
    // asks again) cannot leave a dangling entry behind.
    while (!FFreeNotifies.empty()) {
        TComponent *partner = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        EraseOne(partner->FFreeNotifies, this);
        partner->Notification(this, opRemove);
    }
    // Last created first; a child freed from here does not call back into this list.
    while (!FComponents.empty()) {
        TComponent *child = FComponents.back();
        FComponents.pop_back();
        child->FOwner = nullptr;
        delete child;
    }
    if (FOwner != nullptr)
        FOwner->RemoveComponent(this);
}

const TPropList &TComponent::Properties() const
{
    static const TPropList props =
        InheritProps(TPersistent::Properties(), {StrProp<TComponent>("Name", &TComponent::Name, &TComponent::SetName)});
    return props;
}

void TComponent::SetName(const std::string &NewName)
{
    if (FName != NewName)
        FName = NewName;
}

TComponent *TComponent::Components(int Index) const
{
    if (Index < 0 || Index >= ComponentCount())
        throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
    return FComponents[static_cast<size_t>(Index)];
}

void TComponent::InsertComponent(TComponent *AComponent)
{
    if (AComponent == nullptr || AComponent == this || AComponent->FOwner == this)
        return;
    if (AComponent->FOwner != nullptr)
        AComponent->FOwner->RemoveComponent(AComponent);
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    if (IsDesigning())
        AComponent->SetDesigning(true);
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent *AComponent)
{
    if (AComponent == nullptr || AComponent->FOwner != this)
        return;
    Notification(AComponent, opRemove);
    EraseOne(FComponents, AComponent);
    AComponent->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent *AComponent)
{
    if (AComponent == nullptr || AComponent == this || IsDestroying() || AComponent->IsDestroying())
        return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
        FFreeNotifies.push_back(AComponent);
    if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
        AComponent->FFreeNotifies.end())
        AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent *AComponent)
{
    if (AComponent == nullptr)
        return;
    EraseOne(FFreeNotifies, AComponent);
    EraseOne(AComponent->FFreeNotifies, this);
}

void TComponent::Notification(TComponent *AComponent, TOperation Operation)
{
    if (Operation == opRemove && AComponent != nullptr)
        RemoveFreeNotification(AComponent);
    // Owned components hear about their siblings too; a handler may free some of them.
    size_t i = FComponents.size();
    while (i > 0) {
        --i;
        FComponents[i]->Notification(AComponent, Operation);
        if (i > FComponents.size())
            i = FComponents.size();
    }
}

void TComponent::SetDesigning(bool Value, bool SetChildren)
{
    if (Value)
        FComponentState |= csDesigning;
    else
        FComponentState &= ~static_cast<uint32_t>(csDesigning);
    if (SetChildren)
        for (TComponent *child : FComponents)
            child->SetDesigning(Value, true);
}

void TComponent::SetLoading(bool Value)
{
    if (Value)
        FComponentState |= csLoading;
    else
        FComponentState &= ~static_cast<uint32_t>(csLoading);
}

void TComponent::Destroying()
{
    if (IsDestroying())
        return;
    FComponentState |= csDestroying;
    for (TComponent *child : FComponents)
        child->Destroying();
}

void TComponent::Loaded()
{
    FComponentState &= ~static_cast<uint32_t>(csLoading);
}
