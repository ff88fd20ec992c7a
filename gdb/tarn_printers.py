# SPDX-License-Identifier: MIT
# gdb pretty-printers for tarn: tarn::tree<...> (its records in key order),
# tarn_head (its keys in order, as hex) and tarn_node.
#
# gdb loads them with libtarn.so through the installed auto-load hook; to
# load them by hand (e.g. with the static library):
#
#     (gdb) source /usr/share/tarn/gdb/tarn_printers.py
#
# Lists stop at gdb's `print elements` limit. They are read by following
# links, so a tree damaged by a bug shows as far as its links make sense.
import gdb
import gdb.printing

REPLICA = 1  # TARN_HEAD_REPLICA
BALANCE_NAMES = {0: "EQ", 1: "RH", 2: "LH"}


def element_limit():
    """gdb's `print elements`, or None when unlimited."""
    limit = gdb.parameter("print elements")
    return limit if limit else None


def leftmost(node):
    while int(node["left"]) != 0:
        node = node["left"]
    return node


def in_order(root):
    """The nodes under root in key order: leftmost first, then successor
    steps through parent links, so nothing is kept per level."""
    node = leftmost(root) if int(root) != 0 else root
    while int(node) != 0:
        yield node
        if int(node["right"]) != 0:
            node = leftmost(node["right"])
        else:
            child, node = node, node["parent"]
            while int(node) != 0 and int(node["right"]) == int(child):
                child, node = node, node["parent"]


def limited(items):
    """items, stopping one past gdb's limit (gdb then prints "...")."""
    limit = element_limit()
    for index, item in enumerate(items):
        if limit is not None and index > limit:
            return
        yield index, item


def symbol_name(address):
    """The function at address, by debug information or by symbol table."""
    try:
        block = gdb.block_for_pc(address)
    except RuntimeError:
        block = None
    while block is not None and block.function is None:
        block = block.superblock
    if block is not None:
        return block.function.print_name
    found = gdb.execute("info symbol %#x" % address, to_string=True)
    if not found.startswith("No symbol"):
        return found.split(" in section ")[0].strip()
    return "%#x" % address


def effective_root(head):
    """The root a read on head searches: origin's own root for a replica."""
    if int(head["flags"]) & REPLICA:
        origin = head["origin"]
        return origin.dereference()["root"] if int(origin) else None
    return head["root"]


class NodePrinter:
    def __init__(self, value):
        self.value = value

    def to_string(self):
        node = self.value
        balance = int(node["balance"])
        name = BALANCE_NAMES.get(balance)
        fields = [
            "balance = %s" % ("%s (%d)" % (name, balance) if name else balance),
            "in_tree = %d" % int(node["in_tree"]),
        ]
        fields += ["%s = %#x" % (link, int(node[link])) for link in ("right", "left", "parent")]
        return "{%s}" % ", ".join(fields)


class HeadPrinter:
    def __init__(self, value):
        self.value = value

    def to_string(self):
        head = self.value
        parts = []
        if int(head["flags"]) & REPLICA:
            parts.append("replica of %#x" % int(head["origin"]))
        parts.append("count %d" % int(head["count"]))
        parts.append("key length %d" % int(head["key_length"]))
        compare = int(head["compare"])
        parts.append("compare %s" % symbol_name(compare) if compare else "byte-wise")
        return "tarn_head: " + ", ".join(parts)

    def display_hint(self):
        return "array"

    def children(self):
        head = self.value
        root = effective_root(head)
        if root is None:
            return
        shift = int(head["key_offset"]) - int(head["node_offset"])
        length = int(head["key_length"])
        memory = gdb.selected_inferior()
        for index, node in limited(in_order(root)):
            key = bytes(memory.read_memory(int(node) + shift, length)) if length else b""
            yield "[%d]" % index, key.hex()


class TreePrinter:
    """tarn::tree<Record, Node, Key, Order>: offsets from its descriptor,
    the record type from the first template argument."""

    def __init__(self, value):
        self.head = value["head_"]
        try:
            self.record = value.type.strip_typedefs().template_argument(0)
        except RuntimeError:
            self.record = None

    def to_string(self):
        record = str(self.record) if self.record is not None else "?"
        return "tarn::tree<%s> with %d records" % (record, int(self.head["count"]))

    def display_hint(self):
        return "array"

    def children(self):
        node_offset = int(self.head["node_offset"])
        for index, node in limited(in_order(self.head["root"])):
            if self.record is None:
                yield "[%d]" % index, node
            else:
                address = gdb.Value(int(node) - node_offset)
                yield "[%d]" % index, address.cast(self.record.pointer()).dereference()


class TarnPrinters(gdb.printing.PrettyPrinter):
    def __init__(self):
        super().__init__("tarn")

    def __call__(self, value):
        kind = value.type.strip_typedefs()
        if kind.code != gdb.TYPE_CODE_STRUCT:
            return None
        name = kind.tag or kind.name or ""
        if name == "tarn_node":
            return NodePrinter(value)
        if name == "tarn_head":
            return HeadPrinter(value)
        # The tree holds its descriptor; its nested types (iterators, views,
        # cursors) hold none or point at one.
        if name.startswith("tarn::tree<") and any(
            field.name == "head_" and field.type.strip_typedefs().code == gdb.TYPE_CODE_STRUCT
            for field in kind.fields()
        ):
            return TreePrinter(value)
        return None


def register(objfile=None):
    """Registers the printers with objfile, or everywhere when None."""
    gdb.printing.register_pretty_printer(objfile, TarnPrinters(), replace=True)


if __name__ == "__main__":  # sourced by hand
    register(None)
