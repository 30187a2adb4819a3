// An independent reading of an ipdb file with the ipip-ipdb package, for the
// reader's test and benchmark. Addresses come one a line.
//   node ipdb_node_reader.js MODULES FILE ADDRESSES dump   one JSON array of the fields a line
//   node ipdb_node_reader.js MODULES FILE ADDRESSES bench  "<lookups> <CPU seconds> <wall seconds>" of one timed pass
'use strict';
const path = require('path');
const fs = require('fs');
const [modules, file, list, mode] = process.argv.slice(2);
const ipdb = require(path.join(modules, 'ipip-ipdb'));
const city = new ipdb.City(file);
const ips = fs.readFileSync(list, 'utf8').split('\n').filter(Boolean);
if (mode === 'bench') {
    for (const ip of ips.slice(0, 20000))
        city.find(ip, 'CN');
    const start = process.cpuUsage();
    const wallStart = process.hrtime.bigint();
    for (const ip of ips)
        city.find(ip, 'CN');
    const wall = Number(process.hrtime.bigint() - wallStart) / 1e9;
    const used = process.cpuUsage(start);
    console.log(`${ips.length} ${(used.user + used.system) / 1e6} ${wall}`);
} else {
    const lines = ips.map((ip) => {
        try {
            return JSON.stringify(city.find(ip, 'CN'));
        } catch (e) {
            return 'null';
        }
    });
    process.stdout.write(lines.join('\n') + '\n');
}
