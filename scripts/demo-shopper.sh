# shellcheck shell=bash disable=SC2154
# Sourced by scripts/run --demo and --team (and scripts/readme-shots): a demo
# shop account and a shopper who keeps looking at it.
# Uses: $build $data $tracking $im $service_data (the stand-in's data folder,
# whose admin-token its admin calls carry) (set by the caller); with $rivuzovara and
# $tracking_data the account is made by the tracking service's account command,
# otherwise through the stand-in's admin call.

demo_account=demo_shop
demo_password=demo123
demo_im_name=demo_im
demo_webid=
demo_names=(小雨 阿杰 晨曦 木子李 星河 半夏 青柠 北辰 若水 听风 南乔 一一)
# Addresses of several Chinese provinces, IPv4 and IPv6 (most mobile shoppers come over IPv6).
demo_ips=(61.135.169.121 202.96.209.133 218.30.64.194 221.7.34.10 113.108.81.189 58.19.24.5
    123.125.114.144 119.29.29.29 183.60.92.7 222.73.44.16
    240e:3b7:3272:d8d0::1 2408:8207::1 2409:8a00::1 240e:3a1:4c51:8e20::5 2408:8456:3e12::77 2409:8900:1f4::9)

# One admin call of the stand-in: a POST with the token of its data folder.
demo_admin() {
    curl -fsS --data "" -H "X-Admin-Token: $(cat "$service_data/admin-token")" "$@"
}

# Percent-encodes the UTF-8 bytes of a query value.
demo_urlencode() {
    local LC_ALL=C
    local s=$1 out='' c i
    for ((i = 0; i < ${#s}; i++)); do
        c=${s:i:1}
        case $c in
            [A-Za-z0-9._~-]) out+=$c ;;
            *) printf -v c '%%%02X' "'$c"; out+=${c: -3} ;;
        esac
    done
    printf '%s\n' "$out"
}

# The demo shop at the service: the account, its IM name, item pages.
demo_prepare_service() {
    local reply
    # Registering again keeps the web ID the service gave the account before.
    if [ -n "${rivuzovara:-}" ]; then
        reply=$("$rivuzovara" --data "$tracking_data" account add "$demo_account" "$demo_password")
    else
        reply=$(demo_admin "$tracking/admin/register?name=$demo_account&pwd=$demo_password")
    fi
    demo_webid=${reply#+OK }
    curl -fsS "$tracking/rivuzovara/SaveImName.asp?UserName=$demo_account&UserPwd=$demo_password&UserImName=$demo_im_name" >/dev/null
    local i=1 title
    for title in "首页-夏季纯棉T恤 男款 - Lumo网" "手工陶瓷茶杯套装 -Lumo网" "Lumo网 - 复古帆布双肩包" "首页-蓝牙降噪耳机"; do
        demo_admin "$im/admin/im/item?n=$i&title=$(demo_urlencode "$title")" >/dev/null
        i=$((i + 1))
    done
}

demo_prepare() {
    demo_prepare_service
    # The program creates its store; the demo shop goes in as the configuration
    # page's add button would put it, with the shortest polling interval. Guest
    # alerts stay off so every balloon names a visitor.
    MIRELHELP_HOME="$data" "$build/mirelhelper" --init-store
    sqlite3 "$data/Info.mdb" <<SQL
insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend])
    select '$demo_account','$demo_im_name','$demo_password','$demo_webid',
           '亲爱的 [username],欢迎光临！随便看看哦，有什么需要帮忙的随时招呼我！[randomcode]',1
    where not exists (select 1 from [user] where [username] = '$demo_account');
update [user] set [webid] = '$demo_webid' where [username] = '$demo_account';
update [sysseting] set [reflashtime] = 20, [clienttip] = 1, [guesttip] = 0 where [id] = 1;
SQL
    echo "scripts/run: demo shop '$demo_account' (web ID $demo_webid, IM name $demo_im_name) is monitored and greets its visitors."
}

# The same in a team store (libpq URL) shared by the machines team-a and team-b
# (their data directories): each machine's first start makes its settings row;
# the shop goes in once, and team-a greets for it.
demo_prepare_team() { # url data-directory-a data-directory-b
    local url=$1 dir
    demo_prepare_service
    for dir in "$2" "$3"; do
        MIRELHELP_HOME="$dir" "$build/mirelhelper" --init-store || return 1
    done
    psql -q -X -v ON_ERROR_STOP=1 "$url" <<SQL
insert into "user" (username, usersmailname, password, webid, messageinfo, autosend)
    select '$demo_account', '$demo_im_name', '$demo_password', '$demo_webid',
           '亲爱的 [username],欢迎光临！随便看看哦，有什么需要帮忙的随时招呼我！[randomcode]', 1
    where not exists (select 1 from "user" where username = '$demo_account');
set mirel.machine = 'team-a';
update sysseting set reflashtime = 20, clienttip = 1, guesttip = 0 where id = 1;
set mirel.machine = 'team-b';
update sysseting set reflashtime = 20, clienttip = 1, guesttip = 0 where id = 1;
insert into machine (name, greetshops) values ('team-a', '$demo_account'), ('team-b', '')
    on conflict (name) do update set greetshops = excluded.greetshops;
SQL
    echo "scripts/run: demo shop '$demo_account' (web ID $demo_webid, IM name $demo_im_name) is monitored by both machines; team-a greets its visitors."
}

# One shopper: opens an item page, whose tracking snippet calls shop.asp, and
# shows up on the shop's IM profile page. Names never repeat in a data directory.
demo_shopper_visit() {
    local counter="$data/demo-shopper.count" n name ip item imid
    n=$(($(cat "$counter" 2>/dev/null || echo 0) + 1))
    echo "$n" > "$counter"
    name="${demo_names[RANDOM % ${#demo_names[@]}]}$n"
    ip="${demo_ips[RANDOM % ${#demo_ips[@]}]}"
    item=$((RANDOM % 4 + 1))
    imid=$(printf '%08x' $((RANDOM * 32768 + RANDOM)))
    # The page view first: a poll in between sees no new name yet, never a name with an old address.
    # rivuzovara believes the proxy's header, the stand-in ip=.
    curl -fsS -o /dev/null -e "$im/item/$item" -H "X-Forwarded-For: $ip" \
        "$tracking/rivuzovara/shop.asp?id=$demo_webid&ip=$ip" || return 0
    demo_admin "$im/admin/im/visit?imname=$demo_im_name&name=$(demo_urlencode "$name")&imid=$imid" >/dev/null || return 0
    demo_admin "$im/admin/im/presence?imid=$imid&online=$((RANDOM % 2))" >/dev/null || true
    echo "scripts/run: shopper $name from $ip looked at item $item"
}

demo_shop_forever() {
    local app=$1
    while kill -0 "$app" 2>/dev/null; do
        sleep $((20 + RANDOM % 21))
        demo_shopper_visit
    done
}
