// The upload flow without a PIN: selection, batch preflight, parallel uploads, row and summary texts,
// the answers the page cannot use, and how each failure and row state reads.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFile, rm } from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';

import {
    tearDown,
    Receiver, launchChromium, makeFiles, newPhone, openPage, rows, screenshot, temporaryFolder, waitForSummary,
} from './support.mjs';

const device = '测试手机';
let saveDir;
let receiver;
let chromium;
let context;
const requestedPaths = [];

before(async () => {
    saveDir = await temporaryFolder('fl-web-save-');
    receiver = await Receiver.start({ saveDir });
    chromium = await launchChromium();
    context = await newPhone(chromium.browser);
    context.on('request', (request) => requestedPaths.push(new URL(request.url()).pathname));
}, { timeout: 90000 });

after(async () => {
    await tearDown({ chromium, receiver, folders: [saveDir] });
    // Nothing in this file needs a PIN, so nothing may have asked for one.
    assert.ok(!requestedPaths.includes('/v1/pin/verify'), 'the page never verifies a PIN the server does not want');
    assert.deepEqual(context?.scriptErrors, []);
}, { timeout: 30000 });

async function openPanel() {
    const page = await openPage(context, receiver.url);
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    return page;
}

test('without a PIN the upload panel shows at once', { timeout: 30000 }, async () => {
    const page = await openPanel();
    assert.equal(await page.locator('#pinGate').isVisible(), false);
    assert.equal(await page.textContent('#pageIntro'), '将文件传到 测试电脑。选择文件后点「开始上传」。');
    assert.equal(await page.textContent('#pageIntro strong'), '测试电脑');
    assert.ok(requestedPaths.includes('/v1/info'));
    await page.close();
});

test('a blank device name or an empty selection blocks the start', { timeout: 30000 }, async () => {
    const page = await openPanel();
    await page.fill('#deviceName', '   ');
    await page.click('#uploadBtn');
    await waitForSummary(page, '请填写本机名称后再上传');
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
    const field = await page.$eval('#deviceName', (input) => ({
        invalid: input.classList.contains('device-invalid'),
        focused: document.activeElement === input,
        border: getComputedStyle(input).borderTopColor,
    }));
    assert.deepEqual(field, { invalid: true, focused: true, border: 'rgb(248, 113, 113)' });

    await page.fill('#deviceName', 'x');
    assert.equal(await page.$eval('#deviceName', (input) => input.classList.contains('device-invalid')), false);
    await page.click('#uploadBtn');
    await waitForSummary(page, '请先选择文件');
    assert.ok(!requestedPaths.includes('/v1/upload/preflight/batch'));
    await page.close();
});

test('three files arrive byte-identical in the device folder', { timeout: 90000 }, async () => {
    const contents = {
        'clip.bin': randomBytes(6 * 1024 * 1024 + 123),
        '照片 一.txt': Buffer.from('第一张照片的说明\n'),
        'notes.txt': Buffer.from('hello'),
    };
    const files = await makeFiles(contents);
    const page = await openPanel();
    await page.fill('#deviceName', `  ${device} `);
    await page.setInputFiles('#files', files.paths);
    await waitForSummary(page, '已选择 3 个文件，点「开始上传」并行传输');
    assert.deepEqual((await rows(page)).map((row) => [row.name, row.status, row.pct]),
        Object.keys(contents).map((name) => [name, '等待上传', '0%']));

    // Every status a row passes through, in the order seen.
    await page.evaluate(() => {
        window.seenStatuses = [];
        new MutationObserver(() => {
            for (const status of document.querySelectorAll('#queue .status')) {
                if (window.seenStatuses.at(-1) !== status.textContent) window.seenStatuses.push(status.textContent);
            }
        }).observe(document.getElementById('queue'), { subtree: true, childList: true, characterData: true });
    });
    await page.click('#uploadBtn');
    await waitForSummary(page, '全部完成（3 个文件）', 60000);

    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-ok');
    assert.deepEqual((await rows(page)).map((row) => [row.status, row.pct, row.classes]),
        Object.keys(contents).map(() => [`✓ 传输完成 → ${device}/`, '100%', 'done']));
    assert.equal(await page.textContent('#toast'), '全部 3 个文件已传到 Mac');
    assert.ok(await page.$eval('#toast', (toast) => toast.classList.contains('show')));
    assert.equal(await page.isEnabled('#uploadBtn'), true);
    const seen = await page.evaluate(() => window.seenStatuses);
    for (const status of ['等待 Mac 确认…', '准备上传', '上传中']) {
        assert.ok(seen.includes(status), `rows passed through ${status}: ${seen.join(' | ')}`);
    }
    await screenshot(page, 'finished-batch.png');

    for (const [name, content] of Object.entries(contents)) {
        const saved = path.join(saveDir, device, name);
        assert.ok(content.equals(await readFile(saved)), `${name} arrived byte-identical`);
        await receiver.waitForLine(new RegExp(`^saved ${saved.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')} \\(`));
    }

    await page.reload();
    await page.locator('#uploadPanel').waitFor({ state: 'visible' });
    assert.equal(await page.inputValue('#deviceName'), device);
    await page.close();
    await rm(files.folder, { recursive: true, force: true });
});

test('a selection holding an empty file is refused as a whole', { timeout: 30000 }, async () => {
    const files = await makeFiles({ 'empty.txt': '', 'full.txt': 'data' });
    const page = await openPanel();
    await page.fill('#deviceName', device);
    await page.setInputFiles('#files', files.paths);
    await page.click('#uploadBtn');
    await waitForSummary(page, '传输失败');
    assert.equal(await page.getAttribute('#summary', 'class'), 'summary-err');
    assert.deepEqual((await rows(page)).map((row) => [row.status, row.pct, row.classes]),
        [['✗ 无效的文件大小', '—', 'err'], ['✗ 无效的文件大小', '—', 'err']]);
    assert.equal(await page.textContent('#toast'), '本批文件均未传到 Mac');
    await assert.rejects(readFile(path.join(saveDir, device, 'full.txt')), { code: 'ENOENT' });
    await page.close();
    await rm(files.folder, { recursive: true, force: true });
});

test('answers the page cannot use fail their rows; a failed preflight starts no upload', { timeout: 60000 },
    async () => {
        const files = await makeFiles({ 'a.txt': 'a', 'b.txt': 'b' });
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
            { preflight: tickets, upload: { status: 499, body: '传输已取消' }, shown: ['✗ 已被电脑取消', '传输已取消'] },
            { preflight: tickets, upload: { status: 503, body: '接收已关闭' }, shown: ['✗ 电脑已停止接收', '接收已关闭'] },
            { preflight: { status: 503, body: '接收已关闭' }, shown: ['✗ 电脑已停止接收', '接收已关闭'] },
        ];
        const page = await openPanel();
        let uploads = 0;
        page.on('request', (request) => {
            if (new URL(request.url()).pathname === '/v1/upload') uploads += 1;
        });
        const isUpload = (url) => url.pathname === '/v1/upload';
        await page.fill('#deviceName', device);
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
            await page.waitForFunction(() => !document.getElementById('uploadBtn').disabled);
            assert.equal(await page.textContent('#uploadBtn'), '重试');
            await page.unroute('**/v1/upload/preflight/batch');
            await page.unroute(isUpload);
        }
        await page.close();
        await rm(files.folder, { recursive: true, force: true });
    });

test('a file whose ticket expired while it waited its turn gets a new one and arrives', { timeout: 60000 },
    async () => {
        const contents = { 'late-1.txt': 'waited', 'late-2.bin': randomBytes(200 * 1024) };
        const files = await makeFiles(contents);
        const page = await openPanel();
        const preflights = [];
        page.on('request', (request) => {
            if (new URL(request.url()).pathname === '/v1/upload/preflight/batch') preflights.push(request.postData());
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
        await page.fill('#deviceName', device);
        await page.setInputFiles('#files', files.paths);
        await page.click('#uploadBtn');
        await waitForSummary(page, '全部完成（2 个文件）', 30000);
        assert.equal(preflights.length, 2, 'one new preflight for the files whose tickets were gone');
        for (const [name, content] of Object.entries(contents)) {
            assert.ok(Buffer.from(content).equals(await readFile(path.join(saveDir, device, name))), name);
        }
        await page.close();
        await rm(files.folder, { recursive: true, force: true });
    });

test('every answer reads as one kind of failure, and every row state and failure as one look', { timeout: 30000 },
    async () => {
        const answers = [
            // Status (0: no answer), the server's text, the kind the page reacts to.
            [0, '', 'network'],
            [401, '需要 PIN 验证', 'sessionExpired'],
            [401, '传输失败', 'sessionExpired'],
            [403, '上传许可无效或已过期', 'rejected'],
            [403, '', 'rejected'],
            [400, 'Mac 已拒绝', 'rejected'],
            [500, 'Upload failed: 对方未响应', 'rejected'],
            [499, '传输已取消', 'cancelled'],
            [403, '传输已取消', 'cancelled'],
            [503, '接收已关闭', 'stopped'],
            [503, '服务器繁忙，请稍后再试', 'busy'],
            [500, 'Upload failed: 上传中断，文件不完整', 'interrupted'],
            [500, '', 'serverError'],
            [429, '续传中的上传过多，请稍后再试', 'serverError'],
        ];
        const failed = (kind, request, status = 0, detail = '') => ['failed', { kind, request, status, detail }];
        const views = [
            // State and its detail; then the row's state class, bar width, percentage, status and tooltip.
            [['selected'], ['', '0%', '0%', '等待上传', '']],
            [['awaitingApproval'], ['waiting', '0%', '—', '等待 Mac 确认…', '']],
            [['queued'], ['', '0%', '0%', '排队中', '']],
            [['ready'], ['', '0%', '0%', '准备上传', '']],
            [['awaitingDesktop', { loaded: 65536, total: 1 << 20 }], ['waiting', '6%', '6%', '等待电脑确认…', '']],
            [['retrying', { loaded: 1 << 19, total: 1 << 20 }], ['waiting', '50%', '50%', '连接中断，正在重试…', '']],
            [['uploading', { loaded: 1, total: 3 }], ['', '33%', '33%', '上传中', '']],
            [['uploading', { loaded: 5, total: 4 }], ['', '100%', '100%', '上传中', '']],
            [['uploading', { loaded: 0, total: 0 }], ['', '100%', '0 B', '上传中', '']],
            [['uploading', { loaded: 1023, total: 0 }], ['', '100%', '1023 B', '上传中', '']],
            [['uploading', { loaded: 1024, total: 0 }], ['', '100%', '1.0 KB', '上传中', '']],
            [['uploading', { loaded: 1048576, total: 0 }], ['', '100%', '1.0 MB', '上传中', '']],
            [['uploading', { loaded: 1073741824, total: 0 }], ['', '100%', '1.00 GB', '上传中', '']],
            [['done', { fileName: 'a.txt', deviceFolder: '手机' }], ['done', '100%', '100%', '✓ 传输完成 → 手机/', '']],
            [['done', { fileName: 'a.txt' }], ['done', '100%', '100%', '✓ 传输完成', '']],
            [['done', { fileName: 'a-1.txt', deviceFolder: '手机', pickedName: 'a.txt' }],
                ['done', '100%', '100%', '✓ 传输完成 → 手机/a-1.txt', '']],
            [['done', { fileName: 'a.txt', deviceFolder: '手机', pickedName: 'a.txt' }],
                ['done', '100%', '100%', '✓ 传输完成 → 手机/', '']],
            [failed('rejected', 'preflight', 403, '传输失败'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('rejected', 'upload', 403, '已取消保存'), ['err', '0%', '—', '✗ 传输失败', '已取消保存']],
            [failed('superseded', 'preflight'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('sessionExpired', 'upload', 401, '需要 PIN 验证'), ['err', '0%', '—', '✗ 需要 PIN 验证', '']],
            [failed('serverError', 'preflight', 400, '无效的文件大小'), ['err', '0%', '—', '✗ 无效的文件大小', '']],
            [failed('serverError', 'preflight', 500, ''), ['err', '0%', '—', '✗ 预检失败', '']],
            [failed('serverError', 'upload', 500, ''), ['err', '0%', '—', '✗ 500', '']],
            [failed('malformedAnswer', 'preflight'), ['err', '0%', '—', '✗ 预检响应格式错误', '']],
            [failed('malformedAnswer', 'upload'), ['err', '0%', '—', '✗ 服务器返回格式错误', '']],
            [failed('incompleteAnswer', 'preflight'), ['err', '0%', '—', '✗ 预检响应不完整', '']],
            [failed('incompleteAnswer', 'upload'), ['err', '0%', '—', '✗ 服务器返回数据不完整', '']],
            [failed('network', 'preflight'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('network', 'upload'), ['err', '0%', '—', '✗ 上传失败，请重试', '']],
            [failed('network', 'upload', 0, 'InvalidStateError'),
                ['err', '0%', '—', '✗ 上传失败，请重试', 'InvalidStateError']],
            [failed('timeout', 'preflight'), ['err', '0%', '—', '✗ 传输失败', '']],
            [failed('timeout', 'upload'), ['err', '0%', '—', '✗ 上传超时，请重试', '']],
            [failed('aborted', 'upload'), ['err', '0%', '—', '✗ 已取消', '']],
            [failed('cancelled', 'upload', 404, '传输已取消'), ['err', '0%', '—', '✗ 已被电脑取消', '传输已取消']],
            [failed('cancelled', 'preflight', 403, '传输已取消'), ['err', '0%', '—', '✗ 已被电脑取消', '传输已取消']],
            [failed('stopped', 'upload', 503, '接收已关闭'), ['err', '0%', '—', '✗ 电脑已停止接收', '接收已关闭']],
            [failed('resumeLost', 'upload', 404, '没有可续传的上传'),
                ['err', '0%', '—', '✗ 无法续传，请点重试', '没有可续传的上传']],
            [failed('stalled', 'upload'), ['err', '0%', '—', '✗ 上传超时，请重试', '']],
            [failed('interrupted', 'upload', 500, 'Upload failed: 上传中断，文件不完整'),
                ['err', '0%', '—', '✗ 上传失败，请重试', 'Upload failed: 上传中断，文件不完整']],
            [failed('unreadable', 'upload', 0, 'NotReadableError'), ['err', '0%', '—', '✗ 无法读取文件', 'NotReadableError']],
        ];
        // How a file travels: [size, offset the server holds, whether a request went out before] and the
        // next request's [start, end, names its offset]. A first request of a small file is the file
        // itself, everything else a slice; the first slice is small, for the same-name question.
        const requests = [
            [[10, 0, false], [0, 10, false]],
            [[65536, 0, false], [0, 65536, false]],
            [[10, 0, true], [0, 10, true]],
            [[10, 4, true], [4, 10, true]],
            [[65537, 0, false], [0, 65536, true]],
            [[40 << 20, 65536, true], [65536, 65536 + (8 << 20), true]],
            [[40 << 20, (40 << 20) - 5, true], [(40 << 20) - 5, 40 << 20, true]],
        ];
        // Which failures the page tries again by itself, and the waits between the attempts.
        const retried = ['network', 'stalled', 'timeout', 'busy', 'interrupted'];
        const notRetried = ['rejected', 'cancelled', 'stopped', 'sessionExpired', 'serverError', 'malformedAnswer',
            'incompleteAnswer', 'resumeLost', 'unreadable', 'aborted', 'superseded'];
        const page = await openPanel();
        const seen = await page.evaluate(([answerCases, viewCases, requestCases, retriedKinds, otherKinds]) => {
            // The tables name states, kinds and requests; the page's own enumerations must hold them.
            const known = (names, value) => {
                if (names[value] !== value) throw new Error(`unknown name ${value}`);
                return value;
            };
            const detailOf = (detail) => (detail && detail.kind ? {
                ...detail, kind: known(FailureKind, detail.kind), request: known(PageRequest, detail.request),
            } : detail);
            return {
                kinds: answerCases.map(([status, body]) => classifyFailure(status, body)),
                views: viewCases.map(([[state, detail]]) => {
                    const view = rowView(known(RowState, state), detailOf(detail));
                    return [view.cls, view.width, view.pct, view.status, view.title];
                }),
                requests: requestCases.map(([[size, offset, sent]]) => {
                    const request = nextRequest(size, offset, sent);
                    return [request.start, request.end, request.withOffset];
                }),
                retried: retriedKinds.filter((kind) => isRetryable({ kind: known(FailureKind, kind) })),
                notRetried: otherKinds.filter((kind) => !isRetryable({ kind: known(FailureKind, kind) })),
                delays: [0, 1, 2, 3, 4, 5, 6, 40].map(retryDelayMs),
                allKinds: Object.keys(FailureKind).sort(),
            };
        }, [answers, views, requests, retried, notRetried]);
        assert.deepEqual(seen.kinds.map((kind, i) => [...answers[i].slice(0, 2), kind]), answers);
        assert.deepEqual(seen.views.map((view, i) => [views[i][0], view]), views);
        assert.deepEqual(seen.requests.map((request, i) => [requests[i][0], request]), requests);
        assert.deepEqual(seen.retried, retried);
        assert.deepEqual(seen.notRetried, notRetried);
        assert.deepEqual(seen.allKinds, [...retried, ...notRetried, 'offsetMoved'].sort(), 'every kind is decided');
        assert.deepEqual(seen.delays, [1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000]);
        await page.close();
    });

test('a page that could not ask for info shows the gate, which a server without PIN lets through',
    { timeout: 30000 }, async () => {
        const phone = await newPhone(chromium.browser);
        const page = await phone.newPage();
        await page.route('**/v1/info', (route) => route.abort());
        await page.goto(receiver.url);
        await page.locator('#pinGate').waitFor({ state: 'visible' });
        assert.equal(await page.textContent('#pinError'), '无法连接 Mac，请检查网络');
        await page.keyboard.type('0000');
        await page.locator('#uploadPanel').waitFor({ state: 'visible' });
        assert.equal(await page.evaluate(() => sessionStorage.getItem('ferrylantern-session')), null);
        assert.deepEqual(phone.scriptErrors, []);
        await phone.close();
    });
