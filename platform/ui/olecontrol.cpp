#include "olecontrol.h"

#include <QPainter>

COleControl::COleControl() = default;
COleControl::~COleControl() = default;

BOOL COleControl::CreateControlWindow(QWidget* parent, const CRect& rcPos) {
    return Create(parent, rcPos);
}

DWORD COleControl::GetControlFlags() { return clipPaintDC; }

void COleControl::FireEvent(DISPID dispid, LONG param) {
    // Held for the call: the handler may replace the sink while it runs.
    const std::shared_ptr<const EventSink> sink = m_sink;
    if (sink) (*sink)(dispid, param);
}

void COleControl::OnDraw(CDC*, const CRect&, const CRect&) {}

void COleControl::OnPaint(CDC* dc, const CRect& invalid) {
    CRect bounds;
    GetClientRect(&bounds);
    if ((GetControlFlags() & clipPaintDC) && dc->Painter())
        dc->Painter()->setClipRect(QRect(bounds.left, bounds.top, bounds.Width(), bounds.Height()), Qt::IntersectClip);
    OnDraw(dc, bounds, invalid);
}
