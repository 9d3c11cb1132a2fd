// The base of an embeddable control: its window, its paint routine, its event
// outlet and its modified flag. Events go to one sink that the container sets;
// the automation layer that will carry them to connection points plugs in there.
#pragma once

#include <functional>
#include <memory>

#include "cwnd.h"

using DISPID = LONG;

class COleControl : public CWnd {
public:
    // The flags a control reports from GetControlFlags.
    enum ControlFlags : DWORD {
        fastBeginPaint = 0x0001,
        clipPaintDC = 0x0002,
        pointerInactive = 0x0004,
        noFlickerActivate = 0x0008,
        windowlessActivate = 0x0010,
        canOptimizeDraw = 0x0020,
    };
    using EventSink = std::function<void(DISPID dispid, LONG param)>;

    COleControl();
    ~COleControl() override;

    // Receives every fired event, synchronously. May be replaced or cleared
    // from inside an event.
    void SetEventSink(EventSink sink) {
        m_sink = sink ? std::make_shared<const EventSink>(std::move(sink)) : nullptr;
    }

    // The container's request for the control's window, as a child of `parent`
    // at `rcPos` (parent coordinates).
    BOOL CreateControlWindow(QWidget* parent, const CRect& rcPos);

    void SetModifiedFlag(BOOL modified = TRUE) { m_bModified = modified ? TRUE : FALSE; }
    BOOL IsModified() const { return m_bModified; }

    virtual DWORD GetControlFlags();

    // Draws the control into any device context at `bounds` (a container
    // without a window for the control, e.g. one drawing into an image).
    void DrawContent(CDC* dc, const CRect& bounds) { OnDraw(dc, bounds, bounds); }

protected:
    void FireEvent(DISPID dispid, LONG param);
    virtual void OnDraw(CDC* dc, const CRect& rcBounds, const CRect& rcInvalid);
    void OnPaint(CDC* dc, const CRect& invalid) override;

private:
    // Shared, so that firing holds the sink alive without copying it.
    std::shared_ptr<const EventSink> m_sink;
    BOOL m_bModified = FALSE;
};
