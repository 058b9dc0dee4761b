// The upload flow without a PIN: selection, batch preflight, parallel uploads, row and summary texts,
// the answers the page cannot use and the rules by which failures, sizes and times read; speed and time
// left on a slow link, cancelling, folders, keeping the screen on, light and dark and accessibility;
// texts to the computer and what the computer shares.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { mkdir, readFile, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { after, test } from 'node:test';

import {
    checkAccessibility, entriesUnder, onLANAddress, openPage, recordRowStatuses, rows, screenshot, slowLink,
    useBrowser, waitForSummary, waitForText,
} from './support.mjs';

const device = '测试手机';
let receiver;
const sharedContent = randomBytes(300 * 1024 + 11);
const requestedPaths = [];
const session = useBrowser({
    async setUp() {
        const shared = await session.files({ '季度报告 Q3.pdf': sharedContent });
        receiver = await session.receiver({ share: shared.paths });
        session.context.on('request', (request) => requestedPaths.push(new URL(request.url()).pathname));
    },
});

// Nothing in this file needs a PIN: only the page that could not ask the server whether it wants one
// may send one.
after(() => assert.deepEqual(requestedPaths.filter((pathname) => pathname === '/v1/pin/verify'), ['/v1/pin/verify'],
    'the page never verifies a PIN the server does not want'));

const openPanel = (options) => openPage(session.context, receiver.url, options);

// Drops files or folders (paths on this machine) onto `selector` as a desktop's file manager would,
// through Chromium's own drag events, so folders arrive as folders.
async function dropPaths(page, selector, paths) {
    const box = await page.locator(selector).boundingBox();
    const devtools = await page.context().newCDPSession(page);
    const at = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    for (const type of ['dragEnter', 'dragOver', 'drop']) {
        await devtools.send('Input.dispatchDragEvent', { type, ...at, data: { items: [], files: paths, dragOperationsMask: 1 } });
    }
    await devtools.detach();
}

test('a blank device name or an empty selection blocks the start, the name marked only after a try; then ' +
    'three files arrive byte-identical in the device folder', { timeout: 90000 }, async () => {
    const contents = {
        'clip.bin': randomBytes(6 * 1024 * 1024 + 123),
        '照片 一.txt': Buffer.from('第一张照片的说明\n'),
        // A name of markup shows as the characters it holds.
        '<img src=x onerror=window.injected=1>.txt': Buffer.from('hello'),
    };
    const files = await session.files(contents);
    const page = await openPanel();
    assert.equal(await page.locator('#pinGate').isVisible(), false);
    assert.equal(await page.textContent('#pageIntro'), '将文件传到 测试电脑。选择文件后点「开始上传」。');
    assert.equal(await page.textContent('#pageIntro strong'), '测试电脑');
    const field = () => page.$eval('#deviceName', (input) => ({
        invalid: input.classList.contains('device-invalid'),
        ariaInvalid: input.getAttribute('aria-invalid'),
        focused: document.activeElement === input,
        border: getComputedStyle(input).borderTopColor,
    }));
    await page.fill('#deviceName', 'x');
    await page.click('#uploadBtn');
    await waitForSummary(page, '请先选择文件');
    await page.fill('#deviceName', '');
    await page.locator('#deviceName').blur();
    assert.deepEqual(await field(), { invalid: false, ariaInvalid: null, focused: false, border: 'rgb(61, 77, 102)' },
        'an empty name is not marked before anyone tried');

    // Files picked first, the name after the failed try.
    await page.setInputFiles('#files', files.paths);
    await waitForSummary(page, '已选择 3 个文件，点「开始上传」并行传输');
    assert.deepEqual((await rows(page)).map((row) => [row.name, row.status, row.pct]),
        Object.keys(contents).map((name) => [name, '等待上传', '0%']));
    await page.fill('#deviceName', '   ');
    await page.click('#uploadBtn');
    await waitForSummary(page, '请填写本机名称后再上传');
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
    assert.deepEqual(await field(), { invalid: true, ariaInvalid: 'true', focused: true, border: 'rgb(248, 113, 113)' });
    assert.ok(!requestedPaths.includes('/v1/upload/preflight/batch'));
    await page.fill('#deviceName', `  ${device} `);
    assert.equal((await field()).invalid, false);

    await recordRowStatuses(page);
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（3 个文件）', 60000);
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-ok');
    assert.deepEqual((await rows(page)).map((row) => [row.status, row.pct, row.classes]),
        Object.keys(contents).map(() => [`✓ 传输完成 → ${device}/`, '100%', 'done']));
    assert.equal(await page.textContent('#toast'), '全部 3 个文件已传到 Mac');
    assert.ok(await page.$eval('#toast', (toast) => toast.classList.contains('show')));
    assert.equal(await page.isEnabled('#uploadBtn'), true);
    const seen = (await page.evaluate(() => window.seenStatuses)).flat();
    for (const status of ['等待 Mac 确认…', '准备上传', '上传中']) {
        assert.ok(seen.includes(status), `rows passed through ${status}: ${seen.join(' | ')}`);
    }
    await screenshot(page, 'finished-batch.png');

    for (const [name, content] of Object.entries(contents)) {
        const saved = path.join(receiver.saveDir, device, name);
        assert.ok(content.equals(await readFile(saved)), `${name} arrived byte-identical`);
        await receiver.waitForLine(new RegExp(`^saved ${saved.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')} \\(`));
    }
    await page.reload();
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    assert.equal(await page.inputValue('#deviceName'), device);
    await page.close();
});

test('answers the page cannot use fail their rows; a failed preflight starts no upload', { timeout: 60000 },
    async () => {
        const files = await session.files({ 'a.txt': 'a', 'b.txt': 'b' });
        const tickets = { status: 200, body: '{"approved":true,"items":[{"uploadId":"A"},{"uploadId":"B"}]}' };
        const cases = [
            // The preflight's answer, each upload's answer ('abort': none arrives, and the server keeps
            // nothing to resume), what both rows show with their tooltips. "重试" sends the rows again.
            { preflight: { status: 200, body: '{"approved":true,"items":[{"uploadId":"X","filename":"a.txt"}]}' },
                shown: ['✗ 预检响应不完整', ''] },
            { preflight: { status: 200, body: '<html>' }, shown: ['✗ 预检响应格式错误', ''] },
            { preflight: { status: 500, body: '' }, shown: ['✗ 预检失败', ''] },
            { preflight: { status: 400, body: 'Mac 已拒绝' }, shown: ['✗ 传输失败', 'Mac 已拒绝'] },
            { preflight: tickets, upload: { status: 403, body: '已取消保存' }, shown: ['✗ 传输失败', '已取消保存'] },
            { preflight: tickets, upload: { status: 200, body: '<html>' }, shown: ['✗ 服务器返回格式错误', ''] },
            { preflight: tickets, upload: 'abort', shown: ['✗ 无法续传，请点重试', '没有可续传的上传'] },
            { preflight: { status: 503, body: '接收已关闭' }, shown: ['✗ 电脑已停止接收', '接收已关闭'] },
        ];
        const page = await openPanel({ device });
        const isUpload = (url) => url.pathname === '/v1/upload';
        let uploads = 0;
        page.on('request', (request) => {
            uploads += isUpload(new URL(request.url()));
        });
        await page.setInputFiles('#files', files.paths);
        for (const { preflight, upload, shown } of cases) {
            const uploadsBefore = uploads;
            await page.route('**/v1/upload/preflight/batch', (route) => route.fulfill(preflight));
            await page.route(isUpload, (route) => (upload === 'abort' ? route.abort() : route.fulfill(upload)));
            await page.click('#uploadBtn');
            await waitForSummary(page, upload ? '全部传输失败（2 个）' : '传输失败');
            assert.deepEqual((await rows(page)).map((row) => [row.status, row.tooltip]), [shown, shown],
                JSON.stringify({ preflight, upload }));
            assert.equal(uploads - uploadsBefore, upload ? 2 : 0);
            assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
            assert.equal(await page.textContent('#toast'), '本批文件均未传到 Mac');
            await page.waitForFunction(() => !document.getElementById('uploadBtn').disabled);
            assert.equal(await page.textContent('#uploadBtn'), '重试');
            await page.unroute('**/v1/upload/preflight/batch');
            await page.unroute(isUpload);
        }
        await page.close();
    });

test('a file whose ticket expired while it waited its turn gets a new one and arrives', { timeout: 60000 },
    async () => {
        const contents = { 'late-1.txt': 'waited', 'late-2.bin': randomBytes(200 * 1024) };
        const files = await session.files(contents);
        const page = await openPanel({ device });
        let preflights = 0;
        page.on('request', (request) => {
            preflights += new URL(request.url()).pathname === '/v1/upload/preflight/batch';
        });
        // The tickets' first use finds them gone (the server's answer for an unknown ticket, whole file
        // or first slice).
        const expired = new Set();
        await page.route((url) => url.pathname === '/v1/upload', (route) => {
            const url = new URL(route.request().url());
            const name = url.searchParams.get('filename');
            if (expired.has(name)) return route.continue();
            expired.add(name);
            return url.searchParams.has('offset')
                ? route.fulfill({ status: 404, contentType: 'application/json', body: '{"error":"没有可续传的上传"}' })
                : route.fulfill({ status: 403, contentType: 'text/plain; charset=utf-8', body: '上传许可无效或已过期' });
        });
        await page.setInputFiles('#files', files.paths);
        await page.click('#uploadBtn');
        await waitForSummary(page, '全部完成（2 个文件）', 30000);
        assert.equal(preflights, 2, 'one new preflight for the files whose tickets were gone');
        for (const [name, content] of Object.entries(contents)) {
            assert.ok(Buffer.from(content).equals(await readFile(path.join(receiver.saveDir, device, name))), name);
        }
        await page.close();
    });

test('answers, row states, sizes, speeds and times read by one rule each', { timeout: 30000 }, async () => {
    const MB = 1024 * 1024;
    const failed = (kind, request, status = 0, detail = '') => ['failed', { kind, request, status, detail }];
    const cases = {
        // Status (0: no answer) and the server's text; the kind of failure the page reacts to.
        classifyFailure: [
            [[0, ''], 'network'], [[401, '传输失败'], 'sessionExpired'], [[403, '上传许可无效或已过期'], 'rejected'],
            [[500, 'Upload failed: 对方未响应'], 'rejected'], [[499, ''], 'cancelled'],
            [[403, '传输已取消'], 'cancelled'], [[503, '接收已关闭'], 'stopped'], [[503, '服务器繁忙，请稍后再试'], 'busy'],
            [[500, 'Upload failed: 上传中断，文件不完整'], 'interrupted'], [[429, '续传中的上传过多'], 'serverError'],
        ],
        // A row's state and its detail; its class, bar width, percentage, status and tooltip.
        rowView: [
            [['awaitingDesktop', { loaded: 65536, total: 1 << 20 }], ['waiting', '6%', '6%', '等待电脑确认…', '']],
            [['uploading', { loaded: 1, total: 3 }], ['', '33%', '33%', '上传中', '']],
            [['uploading', { loaded: 5, total: 4 }], ['', '100%', '100%', '上传中', '']],
            [['uploading', { loaded: 1023, total: 0 }], ['', '100%', '1023 B', '上传中', '']],
            [['uploading', { loaded: 1073741824, total: 0 }], ['', '100%', '1.00 GB', '上传中', '']],
            [['done', { fileName: 'a.txt' }], ['done', '100%', '100%', '✓ 传输完成', '']],
            [['done', { fileName: 'a-1.txt', deviceFolder: '手机', pickedName: 'a.txt' }],
                ['done', '100%', '100%', '✓ 传输完成 → 手机/a-1.txt', '']],
            [failed('rejected', 'preflight', 403, '传输失败'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('serverError', 'upload', 500, ''), ['err', '0%', '—', '✗ 500', '']],
            [failed('network', 'preflight'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('timeout', 'upload'), ['err', '0%', '—', '✗ 上传超时，请重试', '']],
            [failed('unreadable', 'upload', 0, 'NotReadableError'), ['err', '0%', '—', '✗ 无法读取文件', 'NotReadableError']],
        ],
        // A file's size, the offset the server holds and whether a request went out before; the next
        // request's start, end and whether it names its offset. A small file goes whole at first, all
        // else in slices, the first one small, for the same-name question.
        nextRequest: [
            [[65536, 0, false], [0, 65536, false]], [[10, 4, true], [4, 10, true]],
            [[65537, 0, false], [0, 65536, true]], [[40 << 20, 65536, true], [65536, 65536 + (8 << 20), true]],
            [[40 << 20, (40 << 20) - 5, true], [(40 << 20) - 5, 40 << 20, true]],
        ],
        retryDelayMs: [[[0], 1000], [[4], 16000], [[5], 30000], [[6], 30000], [[40], 30000]],
        // Seconds left: exact below 10 s, then rounded up ever more coarsely.
        formatDuration: [[[0.2], '1 秒'], [[9.1], '10 秒'], [[42], '45 秒'], [[75], '1 分 20 秒'], [[599], '10 分钟'],
            [[700], '12 分钟'], [[3599], '1 小时'], [[4000], '1 小时 7 分']],
        // Row state, size, bytes sent and measured speed; the sizes line.
        rowStatsText: [
            [['selected', 3 * MB, 0, null], '3.0 MB'], [['retrying', 8 * MB, 4 * MB, null], '4.0 MB / 8.0 MB'],
            [['uploading', 8 * MB, 2 * MB, 512], '2.0 MB / 8.0 MB · 512 B/s · 剩余约 3 小时 25 分'],
            [['done', 1023, 1023, null], '1023 B'],
        ],
        batchStatsText: [[[3, 50, 120 * MB, 300 * MB, 6 * MB], '已完成 3/50 个文件 · 120.0 MB / 300.0 MB · 6.0 MB/s · 剩余约 30 秒']],
        // Byte counts at times (ms) and the speed measured at the last time: nothing before a second, the
        // last five seconds after that, a stall bringing it down, a count that goes back starting over.
        measuredSpeed: [
            [[[[0, 0], [500, 50000]], 800], null], [[[[0, 0], [500, 50000], [1000, 100000]], 1000], 100000],
            [[[[0, 0], [4000, 0], [10000, 600000]], 10000], 100000], [[[[0, 0], [1000, 100000]], 2000], 50000],
            [[[[0, 0], [1000, 100000], [2000, 20000], [2500, 70000]], 2800], null],
        ],
    };
    const page = await openPanel();
    const seen = await page.evaluate((tables) => {
        // The tables name states and kinds; the page's own enumerations must hold them.
        const known = (names, value) => {
            if (names[value] !== value) throw new Error(`unknown name ${value}`);
            return value;
        };
        const run = {
            rowView: (state, detail) => {
                const view = rowView(known(RowState, state), detail?.kind
                    ? { ...detail, kind: known(FailureKind, detail.kind), request: known(PageRequest, detail.request) }
                    : detail);
                return [view.cls, view.width, view.pct, view.status, view.title];
            },
            nextRequest: (...args) => Object.values(nextRequest(...args)),
            rowStatsText: (state, ...rest) => rowStatsText(known(RowState, state), ...rest),
            measuredSpeed: (samples, now) => {
                const meter = newSpeedMeter();
                for (const [t, bytes] of samples) recordBytes(meter, t, bytes);
                return measuredSpeed(meter, now);
            },
        };
        const results = Object.fromEntries(Object.entries(tables).map(([name, rows]) =>
            [name, rows.map(([args]) => (run[name] ?? window[name])(...args))]));
        results.retried = Object.keys(FailureKind).filter((kind) => isRetryable({ kind })).sort();
        return results;
    }, cases);
    for (const [name, rows] of Object.entries(cases)) {
        assert.deepEqual(seen[name].map((result, i) => [rows[i][0], result]), rows, name);
    }
    // What cannot change by waiting (a refusal, a cancel, a stop, a bad answer) is not tried again.
    assert.deepEqual(seen.retried, ['busy', 'interrupted', 'network', 'stalled', 'timeout']);
    await page.close();
});

test('on a slow link the rows and the bar at the top show sizes, speed and time left; the screen stays on; ' +
    'dark and light pass the accessibility check', { timeout: 90000 }, async () => {
    const big = randomBytes(6 * 1024 * 1024);
    const contents = { '海边 4K.mov': big, 'IMG_2041.HEIC': randomBytes(900 * 1024) };
    for (let i = 1; i <= 24; i += 1) contents[`照片-${String(i).padStart(2, '0')}.jpg`] = randomBytes(2048 + i);
    const files = await session.files(contents);
    const page = await openPanel({ device });
    await page.setInputFiles('#files', files.paths);
    await waitForSummary(page, '已选择 26 个文件，点「开始上传」并行传输');
    assert.deepEqual((await rows(page)).slice(0, 2).map((row) => row.stats), ['6.0 MB', '900.0 KB']);
    const link = await slowLink(page, 12_000_000);
    await page.click('#uploadBtn');

    // Sizes, bytes sent, speed and time left once the big file has run for a second.
    const bigRow = '#queue .file-item:first-child .file-stats';
    await page.waitForFunction((s) => / · 剩余约 /.test(document.querySelector(s).textContent), bigRow);
    assert.match(await page.textContent(bigRow), /^[\d.]+ (KB|MB) \/ 6\.0 MB · [\d.]+ (KB|MB)\/s · 剩余约 \d+ (秒|分)/);
    await page.waitForFunction(() => / · 剩余约 /.test(document.getElementById('batchStats').textContent));
    assert.match(await page.textContent('#batchStats'),
        /^已完成 \d+\/26 个文件 · [\d.]+ (KB|MB) \/ 6\.9 MB · [\d.]+ (KB|MB)\/s · 剩余约 /);
    // The bar stays at the top of the screen while the rows scroll under it.
    await page.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
    assert.ok(Math.abs(await page.$eval('#batchBar', (bar) => bar.getBoundingClientRect().top)) <= 1,
        'the batch bar sticks to the top');
    assert.equal(await page.getAttribute('#summary', 'aria-live'), 'polite');
    const bars = await page.$$eval('#queue .progress-track', (tracks) => tracks.map((track) => [
        track.getAttribute('role'), track.getAttribute('aria-label'), Number.isInteger(Number(track.getAttribute('aria-valuenow')))]));
    assert.deepEqual(bars[0], ['progressbar', '海边 4K.mov', true]);
    // Fingers need 44 px; fields of less than 16 px make phones zoom in.
    const cramped = await page.evaluate(() => [...document.querySelectorAll('button, a, .pickers label, input, textarea')]
        .filter((element) => element.getClientRects().length > 0 && getComputedStyle(element).opacity !== '0')
        .flatMap((element) => {
            const box = element.getBoundingClientRect();
            const what = `${element.tagName} ${element.id || element.className} ${element.textContent}`;
            const fontSize = parseFloat(getComputedStyle(element).fontSize);
            return [...(box.width < 44 || box.height < 44 ? [`${what}: ${box.width}×${box.height}`] : []),
                ...(element.matches('input, textarea') && fontSize < 16 ? [`${what}: ${fontSize}px`] : [])];
        }));
    assert.deepEqual(cramped, []);
    // The keep-awake video plays; the page has no other way on plain HTTP.
    await page.waitForFunction(() => !keepAwakeVideo.paused && keepAwakeVideo.currentTime > 0);

    // Mid-batch, in both appearances: photographs for the README and the accessibility check.
    await page.evaluate(() => window.scrollTo(0, 0));
    await screenshot(page, 'upload-page-dark.png', { fullPage: false });
    await checkAccessibility(page, 'dark, mid-batch');
    await page.emulateMedia({ colorScheme: 'light' });
    await screenshot(page, 'upload-page-light.png', { fullPage: false });
    await checkAccessibility(page, 'light, mid-batch');
    await page.emulateMedia({ colorScheme: 'dark' });

    await link.lift();
    await waitForSummary(page, '全部完成（26 个文件）', 60000);
    assert.ok(big.equals(await readFile(path.join(receiver.saveDir, device, '海边 4K.mov'))));
    assert.equal(await page.$eval('#keepAwakeVideo', (video) => video.paused), true, 'the video stops with the batch');
    assert.equal(await page.isHidden('#batchProgress'), true);
    assert.deepEqual((await rows(page)).slice(0, 2).map((row) => row.stats), ['6.0 MB', '900.0 KB']);
    await page.close();
});

test('cancelling one file and then all leaves nothing on the computer; leaving the page asks first',
    { timeout: 60000 }, async () => {
        const cancelDevice = '取消手机';
        const files = await session.files({ 'first.mov': randomBytes(4 << 20), 'second.mov': randomBytes(4 << 20) });
        const page = await openPanel({ device: cancelDevice });
        await page.setInputFiles('#files', files.paths);
        await slowLink(page, 8_000_000);
        await page.click('#uploadBtn');
        await page.waitForFunction(() => [...document.querySelectorAll('#queue .pct')]
            .every((pct) => parseInt(pct.textContent, 10) >= 5));

        // Closing or reloading would end the uploads: the browser asks, and staying keeps them going.
        const asked = new Promise((resolve) => page.once('dialog', (dialog) => {
            resolve(dialog.type());
            dialog.dismiss();
        }));
        await page.close({ runBeforeUnload: true });
        assert.equal(await asked, 'beforeunload');
        assert.equal(page.isClosed(), false);

        assert.equal(await page.textContent('#queue .file-item:first-child .row-action'), '取消');
        await page.click('#queue .file-item:first-child .row-action');
        await waitForText(page, '#queue .file-item:first-child .status', '✗ 已取消');
        await receiver.waitForLine(new RegExp(`^failed first\\.mov from ${cancelDevice}$`));
        assert.equal(await page.textContent('#queue .file-item:last-child .status'), '上传中', 'the other file goes on');

        await page.click('#cancelBtn');
        await waitForSummary(page, '全部传输失败（2 个）');
        await receiver.waitForLine(new RegExp(`^failed second\\.mov from ${cancelDevice}$`));
        assert.deepEqual((await rows(page)).map((row) => row.status), ['✗ 已取消', '✗ 已取消']);
        assert.deepEqual(await entriesUnder(path.join(receiver.saveDir, cancelDevice)), [], 'no file and no partial file');
        assert.equal(await page.textContent('#uploadBtn'), '开始上传', 'nothing cancelled is offered again');
        await page.close();
    });

test('a dropped folder of three levels arrives with its folders; picked files add up until sent', { timeout: 60000 },
    async () => {
        const folderDevice = '文件夹手机';
        const top = await session.folder('fl-web-folder-');
        const tree = { '旅行/a.txt': 'a', '旅行/第一天/b.txt': 'bb', '旅行/第一天/傍晚/c.txt': 'ccc' };
        for (const [relative, content] of Object.entries(tree)) {
            await mkdir(path.dirname(path.join(top, relative)), { recursive: true });
            await writeFile(path.join(top, relative), content);
        }
        const single = await session.files({ 'extra.txt': 'extra', 'mistake.txt': 'not this one' });
        const page = await openPanel({ device: folderDevice });
        await dropPaths(page, '#dropZone', [path.join(top, '旅行')]);
        await waitForSummary(page, '已选择 3 个文件，点「开始上传」并行传输');
        await page.setInputFiles('#files', single.paths);
        await waitForSummary(page, '已选择 5 个文件，点「开始上传」并行传输');
        await page.click('#queue .file-item:last-child .row-action');
        await waitForSummary(page, '已选择 4 个文件，点「开始上传」并行传输');
        assert.deepEqual((await rows(page)).map((row) => row.name).sort(), [...Object.keys(tree), 'extra.txt'].sort());

        await page.click('#uploadBtn');
        await waitForSummary(page, '全部完成（4 个文件）');
        const statuses = Object.fromEntries((await rows(page)).map((row) => [row.name, row.status]));
        assert.equal(statuses['旅行/第一天/傍晚/c.txt'], `✓ 传输完成 → ${folderDevice}/旅行/第一天/傍晚/`);
        assert.equal(statuses['extra.txt'], `✓ 传输完成 → ${folderDevice}/`);
        assert.deepEqual(await entriesUnder(path.join(receiver.saveDir, folderDevice)), [...Object.keys(tree), 'extra.txt'].sort());
        for (const [relative, content] of Object.entries(tree)) {
            assert.equal(await readFile(path.join(receiver.saveDir, folderDevice, relative), 'utf8'), content);
        }

        // The folder button lists the same files with their folders.
        await page.setInputFiles('#folderInput', path.join(top, '旅行'));
        await waitForSummary(page, '已选择 3 个文件，点「开始上传」并行传输');
        assert.deepEqual((await rows(page)).map((row) => row.name).sort(), Object.keys(tree).sort());
        await page.close();
    });

test('a page that could not ask for info shows the gate, which a server without PIN lets through; a text typed ' +
    'there arrives as it was written; a shared file downloads byte-identical, a shared text copies by selection',
{ timeout: 30000 }, async () => {
    const page = await session.context.newPage();
    await page.route('**/v1/info', (route) => route.abort());
    // The computer's texts come from the desktop's window, which this server has not: one is added to
    // the real list on its way to the page.
    const sharedText = 'Wi‑Fi：Guest-5G\n密码 4821';
    await page.route((url) => url.pathname === '/v1/shared', async (route) => {
        const response = await route.fetch();
        const list = await response.json();
        list.items.push({ id: '7D2C1A9E-0B6F-4C1E-9A52-3F8D6E4B2A10', kind: 'text', byteCount: 27, text: sharedText });
        await route.fulfill({ response, json: list });
    });
    await page.goto(receiver.url);
    await page.locator('#pinGate').waitFor({ state: 'visible' });
    assert.equal(await page.textContent('#pinError'), '无法连接 Mac，请检查网络');
    await page.keyboard.type('0000');
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    assert.equal(await page.evaluate(() => sessionStorage.getItem('ferrylantern-session')), null);

    await page.fill('#deviceName', device);
    await page.fill('#textInput', 'x'.repeat(65537));
    await page.click('#sendTextBtn');
    await waitForText(page, '#textStatus', '文字过长，最多 64 KiB');
    await page.fill('#textInput', '周五的会改到三点\n302 会议室 🚪');
    await page.click('#sendTextBtn');
    await waitForText(page, '#textStatus', '已发送到 Mac');
    await receiver.waitForLine(/^text from 测试手机: 周五的会改到三点\\x0A302 会议室 🚪$/);
    assert.equal(await page.inputValue('#textInput'), '');

    await page.locator('.shared-download').waitFor();
    assert.equal(await page.textContent('.shared-file .shared-name'), '季度报告 Q3.pdf300.0 KB');

    const [download] = await Promise.all([page.waitForEvent('download'), page.click('.shared-download')]);
    assert.equal(download.suggestedFilename(), '季度报告 Q3.pdf');
    assert.ok(sharedContent.equals(await readFile(await download.path())), 'downloaded byte-identical');
    await receiver.waitForLine(new RegExp(`^sent .*季度报告 Q3\\.pdf to ${device} \\(${sharedContent.length} bytes\\)$`));

    // Plain HTTP has no navigator.clipboard: the button selects the text and copies the selection.
    assert.equal(await page.evaluate(() => navigator.clipboard === undefined), onLANAddress);
    await page.evaluate(() => document.addEventListener('copy', () => {
        const field = document.activeElement;
        window.copiedText = field.value.slice(field.selectionStart, field.selectionEnd);
    }));
    await page.click('.shared-text button');
    await waitForText(page, '#toast', '已复制');
    assert.equal(await page.evaluate(() => window.copiedText), sharedText);
    await page.locator('#sharedPanel').scrollIntoViewIfNeeded();
    await screenshot(page, 'upload-page-shared.png', { fullPage: false });
    await page.close();
});
