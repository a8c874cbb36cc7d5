-- A simulated recorder for the installer script: the flash driver (mtd), the hardware table, an
-- archive object over entries extracted from a package, and the progress callback.
--
-- lua5.1 flash_sim.lua SCRIPT ENTRY_DIR DUMP_PREFIX NAME...
--   NAME...      the package's entries in archive order, read from ENTRY_DIR/NAME
-- Prints one line per event (mtd.init, erase ADDR, write ADDR LEN, progress CODE VALUE, and the
-- script's own prints), then "result" with what execute returned. Writes the contents of the
-- logo and web partitions to DUMP_PREFIX.logo and DUMP_PREFIX.web, with never-erased bytes as 0.
-- Misuse of the flash (before init, unaligned, unerased, oversized, outside a partition) ends
-- the run with status 3.

local script, entryDir, dumpPrefix = arg[1], arg[2], arg[3]
local SECTOR = 0x10000
local FLASH_START, FLASH_END = 0x80000000, 0x80800000
local partitions = {
    logo = { 0x807C0000, 0x80800000 },
    web = { 0x80630000, 0x80780000 },
}

local function fail(msg)
    io.stderr:write("flash misuse: " .. msg .. "\n")
    os.exit(3)
end

local sectors = {} -- sector address -> its 64 KiB of content
local initialised = false

mtd = {
    init = function()
        initialised = true
        print("mtd.init")
    end,
    erase = function(addr)
        if not initialised then fail("erase before init") end
        if addr % SECTOR ~= 0 or addr < FLASH_START or addr >= FLASH_END then
            fail(string.format("erase at %x", addr))
        end
        sectors[addr] = string.rep("\255", SECTOR)
        print(string.format("erase %x", addr))
    end,
    write = function(addr, data)
        if type(data) ~= "string" then fail("write of a " .. type(data)) end
        local old = sectors[addr]
        if not old then fail(string.format("write to unerased %x", addr)) end
        if #data > SECTOR then fail("write of " .. #data .. " bytes") end
        if old ~= string.rep("\255", SECTOR) then fail(string.format("write twice to %x", addr)) end
        sectors[addr] = data .. string.sub(old, #data + 1)
        print(string.format("write %x %d", addr, #data))
    end,
}

Global = { Hardware = { board = "simulated" } }

local entries = {}
for i = 4, #arg do
    local f = assert(io.open(entryDir .. "/" .. arg[i], "rb"))
    entries[#entries + 1] = { filename = arg[i], data = f:read("*a") }
    f:close()
end

local archive = {}
function archive:files()
    local i = 0
    return function()
        i = i + 1
        local e = entries[i]
        if e then
            return { filename = e.filename, uncompressed_size = #e.data }
        end
    end
end
function archive:open(name)
    for _, e in ipairs(entries) do
        if e.filename == name then
            local pos = 1
            local file = {}
            -- Like the recorder's: the next n bytes, fewer at the end, nil once all were read.
            function file:read(n)
                if pos > #e.data then return nil end
                local chunk = string.sub(e.data, pos, pos + n - 1)
                pos = pos + n
                return chunk
            end
            function file:close() end
            return file
        end
    end
    return nil
end

local Installer = dofile(script)
Installer.ZipArchive = archive
Installer.callback = function(code, progress)
    print(string.format("progress %d %s", code, tostring(progress)))
end
local ok, info = Installer:execute()
print("result " .. tostring(ok) .. " " .. tostring(info))

for name, range in pairs(partitions) do
    local out = assert(io.open(dumpPrefix .. "." .. name, "wb"))
    for addr = range[1], range[2] - 1, SECTOR do
        out:write(sectors[addr] or string.rep("\0", SECTOR))
    end
    out:close()
end
