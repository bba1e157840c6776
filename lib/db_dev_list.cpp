// The store's descriptor list: circular, doubly linked, ascending by key, with a search
// cursor that makes repeated and neighbouring accesses cost a step or two.
//
// Both walks take shortcuts that end exactly where the plain walk would: a key beyond either
// end of the list leaves the cursor on the head without going round the list, and an
// insertion starts from the cursor (where the preceding search left it) instead of the head.
// The list and the cursor come out the same; ascending and descending puts cost O(1).
#include "db_dev_region.h"

namespace bsp::db {

namespace {

UINT32 next_of(UINT32 node) {
    return st_desc(node)->st_obj_next;
}
UINT32 prev_of(UINT32 node) {
    return st_desc(node)->st_obj_prev;
}

int cmp_at(UINT32 node, const UINT8 *key) {
    return st_key_cmp(st_desc(node)->st_obj_key, key);
}

// The descriptor before which a node with `key` (not stored) belongs: the first with a
// greater key, or the head when the key is the largest (the node then ends the list).
UINT32 insertion_point(const STORE *st, const UINT8 *key) {
    UINT32 head = st->st_obj_head;
    if (cmp_at(head, key) > 0 || cmp_at(prev_of(head), key) <= 0) {
        return head;
    }
    // Here head < key < tail: both walks stop inside the list.
    UINT32 cur = st->st_obj_search;
    if (cmp_at(cur, key) <= 0) {
        do {
            cur = next_of(cur);
        } while (cmp_at(cur, key) <= 0);
    } else {
        while (cmp_at(prev_of(cur), key) > 0) {
            cur = prev_of(cur);
        }
    }
    return cur;
}

}  // namespace

UINT32 st_obj_search_in_list(STORE *st, const UINT8 *key) {
    UINT32 head = st->st_obj_head;
    if (head == 0) {
        return 0;
    }
    UINT32 cur = st->st_obj_search;
    int c = cmp_at(cur, key);
    if (c < 0) {
        if (cmp_at(prev_of(head), key) < 0) {
            cur = head;  // larger than every key: the forward walk ends on the head
            c = cmp_at(cur, key);
        } else {
            do {
                cur = next_of(cur);
                c = cmp_at(cur, key);
            } while (c < 0 && cur != head);
        }
    }
    if (c > 0) {
        if (cmp_at(head, key) > 0) {
            cur = head;  // smaller than every key: the backward walk ends on the head
        } else {
            do {
                cur = prev_of(cur);
                c = cmp_at(cur, key);
            } while (c > 0 && cur != head);
        }
    }
    st->st_obj_search = cur;
    return c == 0 ? cur : 0;
}

void st_obj_insert_in_list(STORE *st, UINT32 node) {
    STORE_OBJ_DESC *n = st_desc(node);
    if (st->st_obj_head == 0) {
        n->st_obj_next = n->st_obj_prev = node;
        st->st_obj_head = st->st_obj_search = node;
        return;
    }
    UINT32 point = insertion_point(st, n->st_obj_key);
    STORE_OBJ_DESC *p = st_desc(point);
    n->st_obj_prev = p->st_obj_prev;
    st_desc(p->st_obj_prev)->st_obj_next = node;
    n->st_obj_next = point;
    p->st_obj_prev = node;
    if (point == st->st_obj_head && cmp_at(point, n->st_obj_key) > 0) {
        st->st_obj_head = node;
    }
    st->st_obj_search = node;
}

void st_obj_remove_from_list(STORE *st, UINT32 node) {
    STORE_OBJ_DESC *n = st_desc(node);
    if (n->st_obj_prev == node) {
        st->st_obj_head = st->st_obj_search = 0;
        return;
    }
    st_desc(n->st_obj_prev)->st_obj_next = n->st_obj_next;
    st_desc(n->st_obj_next)->st_obj_prev = n->st_obj_prev;
    if (st->st_obj_head == node) {
        st->st_obj_head = n->st_obj_next;
    }
    if (st->st_obj_search == node) {
        st->st_obj_search = n->st_obj_next;
    }
}

}  // namespace bsp::db
