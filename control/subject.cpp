#include "subject.h"

void CSubject::Notify() {
    ++m_nPassDepth;
    for (Node* node = m_pHead; node && m_nCount > 0; node = node->pNext)
        if (node->pObserver) node->pObserver->Update(this);
    if (--m_nPassDepth == 0) PurgeDetached();
}

CSubject::~CSubject() {
    Node* node = m_pHead;
    while (node) {
        Node* next = node->pNext;
        delete node;
        node = next;
    }
}

void CSubject::Attach(CObserver* observer) {
    Node* node = new Node{observer, m_pTail, nullptr};
    if (m_pTail) m_pTail->pNext = node;
    else m_pHead = node;
    m_pTail = node;
    ++m_nCount;
}

void CSubject::Detach(CObserver* observer) {
    Node* node = m_pHead;
    while (node) {
        Node* next = node->pNext;
        if (node->pObserver && node->pObserver == observer) {
            --m_nCount;
            // A pass may stand on this node: keep it linked until the pass ends.
            if (m_nPassDepth > 0) node->pObserver = nullptr;
            else Unlink(node);
        }
        node = next;
    }
}

void CSubject::Unlink(Node* node) {
    if (node->pPrev) node->pPrev->pNext = node->pNext;
    else m_pHead = node->pNext;
    if (node->pNext) node->pNext->pPrev = node->pPrev;
    else m_pTail = node->pPrev;
    delete node;
}

void CSubject::PurgeDetached() {
    Node* node = m_pHead;
    while (node) {
        Node* next = node->pNext;
        if (!node->pObserver) Unlink(node);
        node = next;
    }
}
