"""The functions the program binds at their first call (the common dialogs, the shell): in every
built program given, each late-bound import slot must point at its loading stub, code that
loads the library and fills that very slot.  A slot that holds anything else sends the first call
of its function elsewhere: in a 32-bit build whose linker had dropped the stubs, every slot held
0 and opening, saving, a drop and the author's page jumped to address 0.  The check reads the
files only, so it holds on machines that cannot run the programs.

usage: late_bound_test.py PROGRAM.exe... (each must import something late)"""
import struct
import sys

import pefile


def delay_descriptors(pe):
    """The RVAs of the late-bound libraries' descriptors.  The linker leaves the header's
    directory of late-bound imports empty (the stubs find their descriptor themselves), so they
    are found by their symbols in the program's COFF symbol table."""
    table, count = pe.FILE_HEADER.PointerToSymbolTable, pe.FILE_HEADER.NumberOfSymbols
    data = bytes(pe.__data__)
    strings = table + 18 * count
    found, i = [], 0
    while i < count:
        entry = data[table + 18 * i:table + 18 * (i + 1)]
        raw, value, section, aux = entry[:8], struct.unpack_from("<I", entry, 8)[0], \
            struct.unpack_from("<h", entry, 12)[0], entry[17]
        if raw[:4] == b"\0\0\0\0":
            offset = strings + struct.unpack_from("<I", raw, 4)[0]
            name = data[offset:data.index(b"\0", offset)]
        else:
            name = raw.rstrip(b"\0")
        if b"DELAY_IMPORT_DESCRIPTOR" in name and section > 0:
            found.append(pe.sections[section - 1].VirtualAddress + value)
        i += 1 + aux
    return found


def check(path):
    """The problems of one program's late-bound slots, and how many slots it has."""
    pe = pefile.PE(path, fast_load=True)
    wide = pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]
    size = 8 if wide else 4
    base = pe.OPTIONAL_HEADER.ImageBase
    problems, slots = [], 0
    for descriptor in delay_descriptors(pe):
        _, dll_rva, _, iat_rva, int_rva = struct.unpack("<5I", pe.get_data(descriptor, 20))
        dll = pe.get_string_at_rva(dll_rva).decode()
        for n in range(64):
            named = pe.get_qword_at_rva(int_rva + n * size) if wide else pe.get_dword_at_rva(int_rva + n * size)
            if not named:
                break
            slots += 1
            slot = base + iat_rva + n * size
            name = "%s!%s" % (dll, pe.get_string_at_rva(named + 2).decode())
            target = pe.get_qword_at_rva(slot - base) if wide else pe.get_dword_at_rva(slot - base)
            section = pe.get_section_by_rva(target - base) if target else None
            if not section or not section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]:
                problems.append("%s: the slot holds %#x, not the address of code" % (name, target))
                continue
            # The stub names its slot to the loading helper, "lea rax, [rip+slot]" (48 8D 05) or
            # "mov eax, slot" (B8), then jumps on.
            code = pe.get_data(target - base, 7)
            if wide:
                loads = code[:3] == b"\x48\x8d\x05" and target + 7 + struct.unpack("<i", code[3:7])[0] == slot
            else:
                loads = code[:1] == b"\xb8" and struct.unpack("<I", code[1:5])[0] == slot
            if not loads:
                problems.append("%s: the slot points at %#x, code that does not load this slot (%s)" %
                                (name, target, code.hex()))
    if slots == 0:
        problems.append("no late-bound imports found")
    return problems, slots


def main():
    failed = False
    for path in sys.argv[1:]:
        problems, slots = check(path)
        print("%s: %d late-bound slots, %d wrong" % (path, slots, len(problems)))
        for p in problems:
            print("  " + p)
        failed = failed or bool(problems)
    if len(sys.argv) < 2:
        print(__doc__)
        failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
