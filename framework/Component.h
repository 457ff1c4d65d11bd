#pragma once
// TComponent: owner, name, owned components freed in reverse order of creation, free
// notifications and component state (designing, loading, destroying).
#include "framework/Persistent.h"

#include <cstdint>
#include <string>
#include <vector>

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : uint32_t {
    csLoading = 1u << 0,
    csReading = 1u << 1,
    csWriting = 1u << 2,
    csDestroying = 1u << 3,
    csDesigning = 1u << 4,
};

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent *AOwner);
    // Sets csDestroying, tells every component that asked for free notification, frees the
    // owned components (last created first) and leaves the owner's list. Derived destructors
    // that depend on the destroying state call Destroying() first: C++ runs them before this.
    ~TComponent() override;
    TComponent(const TComponent &) = delete;
    TComponent &operator=(const TComponent &) = delete;

    std::string ClassName() const override { return "TComponent"; }
    const TPropList &Properties() const override; // Name

    TComponent *Owner() const { return FOwner; }
    const std::string &Name() const { return FName; }
    virtual void SetName(const std::string &NewName);

    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent *Components(int Index) const; // EListError on a bad index
    void InsertComponent(TComponent *AComponent);
    void RemoveComponent(TComponent *AComponent);

    // Asks to be told (Notification opRemove) when AComponent is freed; mutual.
    void FreeNotification(TComponent *AComponent);
    void RemoveFreeNotification(TComponent *AComponent);
    virtual void Notification(TComponent *AComponent, TOperation Operation);

    uint32_t ComponentState() const { return FComponentState; }
    bool IsDesigning() const { return (FComponentState & csDesigning) != 0; }
    bool IsLoading() const { return (FComponentState & csLoading) != 0; }
    bool IsDestroying() const { return (FComponentState & csDestroying) != 0; }
    // Design time is a state a test (or a designer) sets; owned components follow.
    void SetDesigning(bool Value, bool SetChildren = true);
    void SetLoading(bool Value);
    void Destroying();
    virtual void Loaded();

    TPersistent *GetOwner() const override { return FOwner; }

private:
    TComponent *FOwner = nullptr;
    std::string FName;
    std::vector<TComponent *> FComponents;
    std::vector<TComponent *> FFreeNotifies;
    uint32_t FComponentState = 0;
};
