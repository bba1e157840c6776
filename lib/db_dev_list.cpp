// The store's descriptor list: circular, doubly linked, ascending by key, with a search
// cursor that makes repeated and neighbouring accesses cost a step or two.
//
// Both walks take shortcuts that end exactly where the plain walk would: a key beyond either
// end of the list leaves the cursor on the head without going round the list, and an
// insertion starts from the cursor (where the preceding search left it) instead of the head.
// The list and the cursor come out the same; ascending and descending puts cost O(1).
//
// Every link is checked before it is followed (see PoolSpace).
#include "db_dev_region.h"

namespace bsp::db {

namespace {

int cmp_at(UINT32 node, const UINT8 *key) {
    return st_key_cmp(st_desc(node)->st_obj_key, key);
}

// Follows links within the pool space, for a bounded number of steps.
class Walker {
  public:
    explicit Walker(const STORE *st) : space_(st) {}

    bool at(UINT32 node) const { return space_.holds_desc(node); }

    // Moves *cur one step forward or backward; false when the link leaves the pool space or
    // the walk goes on longer than any sound list could.
    bool step(UINT32 *cur, bool forward) {
        const STORE_OBJ_DESC *d = st_desc(*cur);
        UINT32 to = forward ? d->st_obj_next : d->st_obj_prev;
        if (!space_.holds_desc(to) || ++steps_ > space_.max_steps) {
            return false;
        }
        *cur = to;
        return true;
    }

  private:
    PoolSpace space_;
    UINT32 steps_ = 0;
};

// The head and the tail of a non-empty list, checked.
bool ends(const STORE *st, Walker &w, UINT32 *head, UINT32 *tail) {
    *head = *tail = st->st_obj_head;
    return w.at(*head) && w.step(tail, false);
}

// The descriptor before which a node with `key` (not stored) belongs: the first with a
// greater key, or the head when the key is the largest (the node then ends the list).
bool insertion_point(const STORE *st, Walker &w, const UINT8 *key, UINT32 *point) {
    UINT32 head = 0;
    UINT32 tail = 0;
    if (!ends(st, w, &head, &tail)) {
        return false;
    }
    *point = head;
    if (cmp_at(head, key) > 0 || cmp_at(tail, key) <= 0) {
        return true;
    }
    // Here head < key < tail: both walks stop inside a sound list.
    UINT32 cur = st->st_obj_search;
    if (!w.at(cur)) {
        return false;
    }
    if (cmp_at(cur, key) <= 0) {
        do {
            if (!w.step(&cur, true)) {
                return false;
            }
        } while (cmp_at(cur, key) <= 0);
    } else {
        for (UINT32 prev = cur; w.step(&prev, false); cur = prev) {
            if (cmp_at(prev, key) <= 0) {
                *point = cur;
                return true;
            }
        }
        return false;
    }
    *point = cur;
    return true;
}

// Walks from *cur while the key stays ahead (forward) or behind (backward) and the head is
// not reached; *c is the last comparison.
bool walk_while(Walker &w, UINT32 head, const UINT8 *key, bool forward, UINT32 *cur, int *c) {
    do {
        if (!w.step(cur, forward)) {
            return false;
        }
        *c = cmp_at(*cur, key);
    } while ((forward ? *c < 0 : *c > 0) && *cur != head);
    return true;
}

}  // namespace

bool st_obj_search_in_list(STORE *st, const UINT8 *key, UINT32 *found) {
    *found = 0;
    if (st->st_obj_head == 0) {
        return true;
    }
    Walker w(st);
    UINT32 head = 0;
    UINT32 tail = 0;
    UINT32 cur = st->st_obj_search;
    if (!ends(st, w, &head, &tail) || !w.at(cur)) {
        return false;
    }
    int c = cmp_at(cur, key);
    if (c < 0) {
        if (cmp_at(tail, key) < 0) {
            cur = head;  // larger than every key: the forward walk ends on the head
            c = cmp_at(cur, key);
        } else if (!walk_while(w, head, key, true, &cur, &c)) {
            return false;
        }
    }
    if (c > 0) {
        if (cmp_at(head, key) > 0) {
            cur = head;  // smaller than every key: the backward walk ends on the head
        } else if (!walk_while(w, head, key, false, &cur, &c)) {
            return false;
        }
    }
    st->st_obj_search = cur;
    *found = c == 0 ? cur : 0;
    return true;
}

bool st_obj_insert_in_list(STORE *st, UINT32 node) {
    STORE_OBJ_DESC *n = st_desc(node);
    if (st->st_obj_head == 0) {
        n->st_obj_next = n->st_obj_prev = node;
        st->st_obj_head = st->st_obj_search = node;
        return true;
    }
    Walker w(st);
    UINT32 point = 0;
    if (!insertion_point(st, w, n->st_obj_key, &point)) {
        return false;
    }
    UINT32 before = point;
    if (!w.step(&before, false)) {
        return false;
    }
    STORE_OBJ_DESC *p = st_desc(point);
    n->st_obj_prev = before;
    st_desc(before)->st_obj_next = node;
    n->st_obj_next = point;
    p->st_obj_prev = node;
    if (point == st->st_obj_head && cmp_at(point, n->st_obj_key) > 0) {
        st->st_obj_head = node;
    }
    st->st_obj_search = node;
    return true;
}

bool st_obj_remove_from_list(STORE *st, UINT32 node) {
    Walker w(st);
    UINT32 prev = node;
    UINT32 next = node;
    if (!w.at(node) || !w.step(&prev, false) || !w.step(&next, true)) {
        return false;
    }
    if (prev == node) {
        st->st_obj_head = st->st_obj_search = 0;
        return true;
    }
    st_desc(prev)->st_obj_next = next;
    st_desc(next)->st_obj_prev = prev;
    if (st->st_obj_head == node) {
        st->st_obj_head = next;
    }
    if (st->st_obj_search == node) {
        st->st_obj_search = next;
    }
    return true;
}

}  // namespace bsp::db
