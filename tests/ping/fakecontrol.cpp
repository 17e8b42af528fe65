// Stand-ins for broken control libraries: each build of this file fails at one step of
// creating a control, so that the loader's report for that step can be checked.
//   FAKE_NO_ENTRY        no DllGetClassObject at all
//   FAKE_REFUSE_CLASS    DllGetClassObject refuses every class
//   FAKE_FACTORY_REFUSES the class object refuses to create an instance
//   FAKE_WRONG_CLASS     the class object creates a widget of another class
//   FAKE_UNRESOLVED      calls a function that no library defines
//   FAKE_OTHER_CONTROL   creates a widget of the class asked for, without the Ping members

#include "hosting/ControlServer.h"

#include <QLabel>

using namespace tarvex::hosting;

#if defined(FAKE_UNRESOLVED)
extern "C" int tarvexFakeMissingFunction();
extern "C" Q_DECL_EXPORT int fakeControlMarker() { return tarvexFakeMissingFunction(); }
#else
extern "C" Q_DECL_EXPORT int fakeControlMarker() { return 1; }
#endif

#ifndef FAKE_NO_ENTRY
namespace {
#if defined(FAKE_OTHER_CONTROL)
class OtherControl final : public QWidget
{
    Q_OBJECT
    Q_CLASSINFO("ClassID", "{0B5E2F1A-1111-4222-8333-944455556666}")
public:
    using QWidget::QWidget;
};
#endif

class FakeFactory final : public IClassFactory
{
public:
    int32_t CreateInstance(QWidget *parent, QObject **object) override
    {
        *object = nullptr;
#if defined(FAKE_FACTORY_REFUSES)
        Q_UNUSED(parent)
        return CLASS_E_NOAGGREGATION;
#elif defined(FAKE_OTHER_CONTROL)
        *object = new OtherControl(parent);
        return S_OK;
#else
        *object = new QLabel(QStringLiteral("not the control"), parent);
        return S_OK;
#endif
    }
    int32_t LockServer(bool) override { return S_OK; }
};
} // namespace

extern "C" Q_DECL_EXPORT int32_t DllGetClassObject(const QUuid *, const QUuid *, void **object)
{
    *object = nullptr;
#if defined(FAKE_REFUSE_CLASS)
    return CLASS_E_CLASSNOTAVAILABLE;
#else
    static FakeFactory factory;
    *object = static_cast<IClassFactory *>(&factory);
    return S_OK;
#endif
}
#endif

#if defined(FAKE_OTHER_CONTROL)
#include "fakecontrol.moc"
#endif
