-- SPDX-License-Identifier: GPL-3.0-or-later
-- Additions: a class on the school's PostgreSQL server, version 3.
--
-- Run by the administrator, as a superuser, in the class database (the
-- README gives the commands). It stops at the first error, changing
-- nothing; run again, or over version 1, it keeps every answer. Then
-- additions.add_computer() and additions.add_teacher() add the roles.
--
-- No child's name ever reaches this server: a computer (the role that sent
-- the answer) and a player key ("1_joueur", or what a child typed) only. A
-- computer's role may only call additions.record_answer(): it cannot read,
-- change or delete any answer, nor send one as another computer, nor hear
-- of any other's. A teacher reads the rows of their own classes only, and
-- may delete a child's answers on request. Everything here belongs to
-- additions_owner, which cannot log in.
\set ON_ERROR_STOP on
SET client_min_messages = warning;

BEGIN;
-- Only the system's own functions and types, whatever a role may have made
-- elsewhere: this file runs as a superuser. And in the class's database,
-- nobody makes objects of their own.
SET LOCAL search_path = pg_catalog, pg_temp;
DO $$
BEGIN
    IF EXISTS (SELECT FROM pg_namespace WHERE nspname = 'public') THEN
        REVOKE CREATE ON SCHEMA public FROM PUBLIC;
    END IF;
END
$$;

DO $$
DECLARE
    role_name text;
BEGIN
    FOREACH role_name IN ARRAY ARRAY['additions_owner', 'additions_machine', 'additions_teacher']
    LOOP
        IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = role_name) THEN
            EXECUTE format('CREATE ROLE %I NOLOGIN', role_name);
        END IF;
    END LOOP;
END
$$;

CREATE SCHEMA IF NOT EXISTS additions;
REVOKE ALL ON SCHEMA additions FROM PUBLIC;
GRANT USAGE ON SCHEMA additions TO additions_machine, additions_teacher;

-- The version of this schema; the programs read it through
-- additions.version() and send nothing to one they do not know.
CREATE TABLE IF NOT EXISTS additions.schema_version (version integer NOT NULL);
DELETE FROM additions.schema_version;
INSERT INTO additions.schema_version VALUES (3);
CREATE OR REPLACE FUNCTION additions.version()
RETURNS integer
LANGUAGE sql STABLE SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$ SELECT max(version) FROM additions.schema_version $$;

-- This database's own identity. A computer that meets another one (the
-- database made again, or restored from a backup) sends again every answer
-- it holds, which the ids keep once. A copy of the database, or a restore to
-- an earlier point of its log, is another identity too: the database's and
-- the cluster's own ids, and the log's timeline, are part of it. Started
-- afresh on purpose (a new school year: additions.start_afresh()), it takes
-- only the answers made since.
CREATE TABLE IF NOT EXISTS additions.identity (
    id uuid NOT NULL DEFAULT gen_random_uuid(),
    fresh_since timestamptz
);
CREATE UNIQUE INDEX IF NOT EXISTS identity_one_row ON additions.identity ((true));
INSERT INTO additions.identity (id) SELECT gen_random_uuid()
    WHERE NOT EXISTS (SELECT FROM additions.identity);

-- Each class's teachers hear of its answers on a channel of its own, whose
-- name only they can read.
CREATE TABLE IF NOT EXISTS additions.classes (
    name text PRIMARY KEY
);
ALTER TABLE additions.classes ADD COLUMN IF NOT EXISTS channel text NOT NULL
    DEFAULT 'classe_' || md5(random()::text || clock_timestamp()::text);

-- Each computer (its login role) belongs to one class, and sends at most so
-- many answers, and so many bytes, an hour (window_start, window_answers,
-- window_bytes).
CREATE TABLE IF NOT EXISTS additions.machines (
    role name PRIMARY KEY,
    class text NOT NULL REFERENCES additions.classes ON UPDATE CASCADE
);
ALTER TABLE additions.machines
    ADD COLUMN IF NOT EXISTS window_start timestamptz NOT NULL DEFAULT now(),
    ADD COLUMN IF NOT EXISTS window_answers integer NOT NULL DEFAULT 0,
    ADD COLUMN IF NOT EXISTS window_bytes bigint NOT NULL DEFAULT 0;

CREATE TABLE IF NOT EXISTS additions.teachers (
    role name NOT NULL,
    class text NOT NULL REFERENCES additions.classes ON UPDATE CASCADE,
    PRIMARY KEY (role, class)
);

-- How many carries the written sum of two whole numbers makes: the addition
-- children find hardest. Each carry takes 9 from the sum of the digits.
-- NULL for anything but whole numbers.
CREATE OR REPLACE FUNCTION additions.carries(a text, b text)
RETURNS integer
LANGUAGE sql IMMUTABLE STRICT
SET search_path = pg_catalog, pg_temp
AS $$
    SELECT ((SELECT sum(d::integer) FROM regexp_split_to_table(a || b, '') d) -
            (SELECT sum(d::integer)
             FROM regexp_split_to_table((a::numeric + b::numeric)::text, '') d))::integer / 9
    WHERE a ~ '^[0-9]{1,40}$' AND b ~ '^[0-9]{1,40}$'
$$;

-- One row per answer, made on the child's computer: its id is made there, so
-- that an answer sent twice is kept once. Its time is the computer's, set
-- right by how far the computer's clock was from this server's as it sent;
-- `received` is the order in which they came, which for one computer is the
-- order in which it recorded them.
CREATE TABLE IF NOT EXISTS additions.answers (
    id uuid PRIMARY KEY,
    machine name NOT NULL,
    player text NOT NULL,
    bound integer NOT NULL,
    first_number text NOT NULL,
    second_number text NOT NULL,
    answer text NOT NULL,
    is_right boolean NOT NULL,
    stake integer NOT NULL,
    score_after text NOT NULL,
    score_kept boolean,
    answered_at timestamptz NOT NULL,
    received_at timestamptz NOT NULL DEFAULT now(),
    carries integer GENERATED ALWAYS AS (additions.carries(first_number, second_number)) STORED
);
ALTER TABLE additions.answers
    ADD COLUMN IF NOT EXISTS received bigint GENERATED ALWAYS AS IDENTITY;
-- False for an answer whose time its computer could not vouch for (a clock
-- years off): it is kept, with the time it arrived.
ALTER TABLE additions.answers ADD COLUMN IF NOT EXISTS time_trusted boolean NOT NULL DEFAULT true;
DROP INDEX IF EXISTS additions.answers_by_level;
CREATE INDEX IF NOT EXISTS answers_in_order ON additions.answers (machine, player, bound, received);

-- What the class view shows of a child, kept as answers arrive or are erased,
-- so that it reads in a moment however many answers the server holds: per
-- computer, player, level and carries (-1: not two whole numbers); and per
-- level the last 20 answers, right or not, oldest first.
CREATE TABLE IF NOT EXISTS additions.totals (
    machine name NOT NULL,
    player text NOT NULL,
    bound integer NOT NULL,
    carries integer NOT NULL,
    answers bigint NOT NULL,
    right_answers bigint NOT NULL,
    last_at timestamptz NOT NULL,
    PRIMARY KEY (machine, player, bound, carries)
);
CREATE TABLE IF NOT EXISTS additions.recent (
    machine name NOT NULL,
    player text NOT NULL,
    bound integer NOT NULL,
    results boolean[] NOT NULL,
    PRIMARY KEY (machine, player, bound)
);

-- And each child's totals over every level, which is the first thing a
-- teacher reads of a class.
CREATE TABLE IF NOT EXISTS additions.children (
    machine name NOT NULL,
    player text NOT NULL,
    answers bigint NOT NULL,
    right_answers bigint NOT NULL,
    last_at timestamptz NOT NULL,
    PRIMARY KEY (machine, player)
);

-- The same, counted from the answers of some children, or of all.
CREATE OR REPLACE VIEW additions.counted AS
    SELECT machine, player, bound, coalesce(carries, -1) AS carries, count(*) AS answers,
           count(*) FILTER (WHERE is_right) AS right_answers, max(answered_at) AS last_at
    FROM additions.answers GROUP BY 1, 2, 3, 4;
CREATE OR REPLACE VIEW additions.counted_children AS
    SELECT machine, player, count(*) AS answers, count(*) FILTER (WHERE is_right) AS right_answers,
           max(answered_at) AS last_at
    FROM additions.answers GROUP BY 1, 2;
CREATE OR REPLACE VIEW additions.counted_recent AS
    SELECT machine, player, bound, array_agg(is_right ORDER BY received) AS results
    FROM (SELECT machine, player, bound, is_right, received,
                 row_number() OVER (PARTITION BY machine, player, bound ORDER BY received DESC)
          FROM additions.answers) a
    WHERE row_number <= 20 GROUP BY 1, 2, 3;

-- A child's answers erased on request, and when: those made before, still
-- on their way from the computer, are dropped as they arrive.
CREATE TABLE IF NOT EXISTS additions.erasures (
    machine name NOT NULL,
    player text NOT NULL,
    erased_at timestamptz NOT NULL,
    PRIMARY KEY (machine, player)
);

-- The erasures before a new start concern answers it no longer takes.
CREATE OR REPLACE FUNCTION additions.start_afresh()
RETURNS void
LANGUAGE sql
SET search_path = pg_catalog, pg_temp
BEGIN ATOMIC
    UPDATE additions.identity SET id = gen_random_uuid(), fresh_since = now();
    DELETE FROM additions.erasures;
END;

-- The teachers of a class hear of it, and nobody else: no class, computer
-- or child in what they hear.
CREATE OR REPLACE FUNCTION additions.notify_classes(p_machines name[])
RETURNS void
LANGUAGE sql SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
    SELECT pg_notify(c.channel, '') FROM additions.classes c
    WHERE c.name IN (SELECT class FROM additions.machines WHERE role = ANY (p_machines))
$$;

CREATE OR REPLACE FUNCTION additions.count_added()
RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    INSERT INTO additions.totals AS t
        SELECT machine, player, bound, coalesce(carries, -1), count(*),
               count(*) FILTER (WHERE is_right), max(answered_at)
        FROM added GROUP BY 1, 2, 3, 4
    ON CONFLICT (machine, player, bound, carries) DO UPDATE
        SET answers = t.answers + excluded.answers,
            right_answers = t.right_answers + excluded.right_answers,
            last_at = greatest(t.last_at, excluded.last_at);
    INSERT INTO additions.children AS c
        SELECT machine, player, count(*), count(*) FILTER (WHERE is_right), max(answered_at)
        FROM added GROUP BY 1, 2
    ON CONFLICT (machine, player) DO UPDATE
        SET answers = c.answers + excluded.answers,
            right_answers = c.right_answers + excluded.right_answers,
            last_at = greatest(c.last_at, excluded.last_at);
    INSERT INTO additions.recent AS r
        SELECT machine, player, bound, array_agg(is_right ORDER BY received)
        FROM added GROUP BY 1, 2, 3
    ON CONFLICT (machine, player, bound) DO UPDATE
        SET results = (r.results || excluded.results)
            [greatest(cardinality(r.results) + cardinality(excluded.results) - 19, 1):];
    PERFORM additions.notify_classes(ARRAY(SELECT DISTINCT machine FROM added));
    RETURN NULL;
END
$$;

CREATE OR REPLACE FUNCTION additions.count_removed()
RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    -- An erasure removes a child's answers: what is kept of them is counted
    -- again, and answers made before it that arrive later are dropped.
    DELETE FROM additions.totals t USING (SELECT DISTINCT machine, player FROM removed) c
        WHERE t.machine = c.machine AND t.player = c.player;
    INSERT INTO additions.totals SELECT * FROM additions.counted
        WHERE (machine, player) IN (SELECT machine, player FROM removed);
    DELETE FROM additions.children t USING (SELECT DISTINCT machine, player FROM removed) c
        WHERE t.machine = c.machine AND t.player = c.player;
    INSERT INTO additions.children SELECT * FROM additions.counted_children
        WHERE (machine, player) IN (SELECT machine, player FROM removed);
    DELETE FROM additions.recent t USING (SELECT DISTINCT machine, player FROM removed) c
        WHERE t.machine = c.machine AND t.player = c.player;
    INSERT INTO additions.recent SELECT * FROM additions.counted_recent
        WHERE (machine, player) IN (SELECT machine, player FROM removed);
    INSERT INTO additions.erasures SELECT DISTINCT machine, player, now() FROM removed
        ON CONFLICT (machine, player) DO UPDATE SET erased_at = excluded.erased_at;
    PERFORM additions.notify_classes(ARRAY(SELECT DISTINCT machine FROM removed));
    RETURN NULL;
END
$$;

DROP TRIGGER IF EXISTS answers_counted ON additions.answers;
CREATE TRIGGER answers_counted AFTER INSERT ON additions.answers
    REFERENCING NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION additions.count_added();
DROP TRIGGER IF EXISTS answers_uncounted ON additions.answers;
CREATE TRIGGER answers_uncounted AFTER DELETE ON additions.answers
    REFERENCING OLD TABLE AS removed FOR EACH STATEMENT EXECUTE FUNCTION additions.count_removed();

-- Running this file again mends what went astray, and fills what an
-- earlier version did not keep.
TRUNCATE additions.totals, additions.children, additions.recent;
INSERT INTO additions.totals SELECT * FROM additions.counted;
INSERT INTO additions.children SELECT * FROM additions.counted_children;
INSERT INTO additions.recent SELECT * FROM additions.counted_recent;

-- What a computer asks as it connects: the database's identity, and the
-- last time one of its children's answers were erased (answers it set aside
-- may now be taken, and those erased are never to be sent again).
CREATE OR REPLACE FUNCTION additions.computer_state(OUT identity text, OUT last_erasure timestamptz)
LANGUAGE sql STABLE SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
    SELECT concat_ws(':', i.id, d.oid, s.system_identifier, c.timeline_id),
           (SELECT max(erased_at) FROM additions.erasures WHERE machine = session_user)
    FROM additions.identity i, pg_database d, pg_control_system() s, pg_control_checkpoint() c
    WHERE d.datname = current_database()
$$;
CREATE OR REPLACE FUNCTION additions.erased_players()
RETURNS TABLE (player text, erased_at timestamptz)
LANGUAGE sql STABLE SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$ SELECT player, erased_at FROM additions.erasures WHERE machine = session_user $$;

-- The one thing a computer may do: record an answer, as itself. What the
-- game can send, and no more: keys and numbers as long as its boxes hold
-- (32767 characters), one of its levels or none, a stake a score holds, at
-- most 200 players a computer, 10000 answers an hour (far more than
-- children answer, and a week's waiting answers within hours). A refusal
-- that lasts is a check_violation; one that passes (too many answers this
-- hour) a configuration_limit_exceeded, and the computer tries again later.
-- A time is a matter of plausibility, never a reason to lose an answer: one
-- from more than five years ago, or to come, is kept with the time it
-- arrived, marked as untrusted.
-- Returns 'added', 'known' (sent before), 'erased' (made before its
-- child's answers were erased: the computer forgets it too) or 'earlier'
-- (made before the database was started afresh: not wanted here).
CREATE OR REPLACE FUNCTION additions.record_answer(
    p_id uuid, p_player text, p_bound integer, p_first text, p_second text, p_answer text,
    p_right boolean, p_stake integer, p_score text, p_kept boolean, p_when timestamptz,
    p_clock timestamptz)
RETURNS text
LANGUAGE plpgsql SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
DECLARE
    computer additions.machines;
    added integer;
    trusted boolean;
    size bigint;
BEGIN
    IF length(p_player) NOT BETWEEN 1 AND 32767 OR greatest(length(p_first), length(p_second),
       length(p_answer), length(p_score)) > 32767 OR p_bound NOT IN (0, 50, 200, 1000, 5000, 10000)
       OR p_stake NOT BETWEEN -32768 AND 32767 OR NOT isfinite(p_when) OR NOT isfinite(p_clock) THEN
        RAISE EXCEPTION 'ce n''est pas une réponse que le jeu envoie'
            USING ERRCODE = 'check_violation';
    END IF;
    -- The computer's clock, set right.
    p_when := p_when + (now() - p_clock);
    trusted := p_when BETWEEN now() - interval '5 years' AND now() + interval '1 minute';
    IF NOT trusted THEN
        p_when := now();
    END IF;
    p_when := least(p_when, now());
    IF p_when < (SELECT fresh_since FROM additions.identity) THEN
        RETURN 'earlier';
    END IF;
    SELECT * INTO computer FROM additions.machines WHERE role = session_user FOR UPDATE;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'l''ordinateur % n''est dans aucune classe', session_user
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    IF computer.window_start > now() - interval '1 hour' AND computer.window_answers >= 10000 THEN
        RAISE EXCEPTION 'trop de réponses de % en une heure (10000 au plus)', session_user
            USING ERRCODE = 'configuration_limit_exceeded';
    END IF;
    -- What an answer stores: a week's outbox of ordinary answers (some 100
    -- bytes each) is a fraction of an hour's 10 MB; answers as long as the
    -- boxes hold, 20 an hour.
    size := octet_length(p_player) + octet_length(p_first) + octet_length(p_second) +
            octet_length(p_answer) + octet_length(p_score);
    IF computer.window_start > now() - interval '1 hour'
       AND computer.window_bytes + size > 10000000 THEN
        RAISE EXCEPTION 'trop de données de % en une heure (10 Mo au plus)', session_user
            USING ERRCODE = 'configuration_limit_exceeded';
    END IF;
    UPDATE additions.machines
        SET window_start = CASE WHEN window_start > now() - interval '1 hour' THEN window_start
                           ELSE now() END,
            window_answers = CASE WHEN window_start > now() - interval '1 hour'
                             THEN window_answers + 1 ELSE 1 END,
            window_bytes = CASE WHEN window_start > now() - interval '1 hour'
                           THEN window_bytes + size ELSE size END
        WHERE role = session_user;
    IF NOT EXISTS (SELECT FROM additions.recent WHERE machine = session_user AND player = p_player)
       AND (SELECT count(DISTINCT player) FROM additions.recent WHERE machine = session_user)
           >= 200 THEN
        RAISE EXCEPTION 'trop de joueurs sur % (200 au plus)', session_user
            USING ERRCODE = 'check_violation';
    END IF;
    -- An erasure on request wins over a time that cannot be placed.
    IF EXISTS (SELECT FROM additions.erasures WHERE machine = session_user AND player = p_player
               AND (erased_at >= p_when OR NOT trusted)) THEN
        RETURN 'erased';
    END IF;
    INSERT INTO additions.answers (id, machine, player, bound, first_number, second_number,
                                   answer, is_right, stake, score_after, score_kept,
                                   answered_at, time_trusted)
    VALUES (p_id, session_user, p_player, p_bound, p_first, p_second, p_answer, p_right,
            p_stake, p_score, p_kept, p_when, trusted)
    ON CONFLICT (id) DO NOTHING;
    GET DIAGNOSTICS added = ROW_COUNT;
    RETURN CASE WHEN added > 0 THEN 'added' ELSE 'known' END;
END
$$;

-- As the first version of the game sent them, without its clock: true when
-- the answer is new.
CREATE OR REPLACE FUNCTION additions.record_answer(
    p_id uuid, p_player text, p_bound integer, p_first text, p_second text, p_answer text,
    p_right boolean, p_stake integer, p_score text, p_kept boolean, p_when timestamptz)
RETURNS boolean
LANGUAGE sql
SET search_path = pg_catalog, pg_temp
AS $$
    SELECT additions.record_answer(p_id, p_player, p_bound, p_first, p_second, p_answer, p_right,
                                   p_stake, p_score, p_kept, p_when, now()) = 'added'
$$;

-- A computer of a class, and a teacher of one, with their passwords and at
-- most a few connections at once: one stolen password cannot take the
-- others' places. Run again, they set a new password, the old one refused
-- from then on; a computer moves to the class given, its answers with it,
-- and a teacher gains the class given, keeping their others.
CREATE OR REPLACE FUNCTION additions.add_role(p_role name, p_group name, p_limit integer,
                                              p_password text)
RETURNS void
LANGUAGE plpgsql
SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = p_role) THEN
        EXECUTE format('CREATE ROLE %I LOGIN IN ROLE %I', p_role, p_group);
    ELSIF (SELECT rolsuper FROM pg_roles WHERE rolname = p_role)
          OR NOT pg_has_role(p_role, p_group, 'MEMBER') THEN
        -- Another role's password is not ours to change.
        RAISE EXCEPTION 'le rôle % existe déjà, et n''est pas %', p_role,
            CASE p_group WHEN 'additions_machine' THEN 'un ordinateur de classe'
            ELSE 'un enseignant' END
            USING ERRCODE = 'duplicate_object';
    END IF;
    EXECUTE format('ALTER ROLE %I LOGIN PASSWORD %L CONNECTION LIMIT %s', p_role, p_password,
                   p_limit);
END
$$;
-- A computer keeps its connection open while its children answer, and
-- closes it after a minute without; one it forgets (a crash, a network cut)
-- the server ends after five. Set for the computers' roles only: a teacher's
-- view listens for hours.
CREATE OR REPLACE FUNCTION additions.computer_settings(p_role name)
RETURNS void
LANGUAGE plpgsql
SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    EXECUTE format('ALTER ROLE %I SET idle_session_timeout = %L', p_role, '5min');
END
$$;

-- A computer's answers go with it: moving it to another class is said, by
-- additions.move_computer(), never done in passing.
CREATE OR REPLACE FUNCTION additions.add_computer(p_role name, p_class text, p_password text)
RETURNS void
LANGUAGE plpgsql
SET search_path = pg_catalog, pg_temp
AS $$
DECLARE
    current text := (SELECT class FROM additions.machines WHERE role = p_role);
BEGIN
    IF current <> p_class THEN
        RAISE EXCEPTION 'l''ordinateur % est dans la classe « % » : '
            'additions.move_computer(''%'', ''%'') l''y fait passer, avec ses réponses',
            p_role, current, p_role, p_class USING ERRCODE = 'unique_violation';
    END IF;
    INSERT INTO additions.classes (name) VALUES (p_class) ON CONFLICT DO NOTHING;
    PERFORM additions.add_role(p_role, 'additions_machine', 3, p_password);
    PERFORM additions.computer_settings(p_role);
    INSERT INTO additions.machines (role, class) VALUES (p_role, p_class)
        ON CONFLICT (role) DO NOTHING;
END
$$;
CREATE OR REPLACE FUNCTION additions.move_computer(p_role name, p_class text)
RETURNS void
LANGUAGE plpgsql
SET search_path = pg_catalog, pg_temp
AS $$
BEGIN
    -- A class mistyped would hide the computer from its teachers.
    IF NOT EXISTS (SELECT FROM additions.classes WHERE name = p_class) THEN
        RAISE EXCEPTION 'la classe « % » n''existe pas : additions.add_teacher() la crée avec son '
            'enseignant', p_class USING ERRCODE = 'no_data_found';
    END IF;
    UPDATE additions.machines SET class = p_class WHERE role = p_role;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'l''ordinateur % n''est dans aucune classe : '
            'additions.add_computer(''%'', ''%'') l''y ajoute', p_role, p_role, p_class
            USING ERRCODE = 'no_data_found';
    END IF;
END
$$;
CREATE OR REPLACE FUNCTION additions.add_teacher(p_role name, p_class text, p_password text)
RETURNS void
LANGUAGE sql
SET search_path = pg_catalog, pg_temp
BEGIN ATOMIC
    INSERT INTO additions.classes (name) VALUES (p_class) ON CONFLICT DO NOTHING;
    SELECT additions.add_role(p_role, 'additions_teacher', 4, p_password);
    INSERT INTO additions.teachers VALUES (p_role, p_class) ON CONFLICT DO NOTHING;
END;
-- The same with a password the server makes (122 random bits) and returns
-- once: a password typed in a statement stays in psql's history, and in the
-- server's log when the statement fails.
CREATE OR REPLACE FUNCTION additions.add_computer(p_role name, p_class text)
RETURNS text
LANGUAGE sql
SET search_path = pg_catalog, pg_temp
AS $$
    SELECT made FROM (SELECT replace(gen_random_uuid()::text, '-', '') AS made) p,
        LATERAL additions.add_computer(p_role, p_class, p.made)
$$;
CREATE OR REPLACE FUNCTION additions.add_teacher(p_role name, p_class text)
RETURNS text
LANGUAGE sql
SET search_path = pg_catalog, pg_temp
AS $$
    SELECT made FROM (SELECT replace(gen_random_uuid()::text, '-', '') AS made) p,
        LATERAL additions.add_teacher(p_role, p_class, p.made)
$$;

-- The roles added by hand, or by an earlier version, get their limits and
-- settings too.
DO $$
DECLARE
    member record;
BEGIN
    FOR member IN SELECT r.rolname, g.rolname AS grp, r.rolconnlimit FROM pg_auth_members a
                  JOIN pg_roles r ON r.oid = a.member JOIN pg_roles g ON g.oid = a.roleid
                  WHERE g.rolname IN ('additions_machine', 'additions_teacher') LOOP
        IF member.rolconnlimit = -1 THEN
            EXECUTE format('ALTER ROLE %I CONNECTION LIMIT %s', member.rolname,
                           CASE member.grp WHEN 'additions_machine' THEN 3 ELSE 4 END);
        END IF;
        IF member.grp = 'additions_machine' THEN
            PERFORM additions.computer_settings(member.rolname);
        END IF;
    END LOOP;
END
$$;

-- Rights: nothing to anyone but through record_answer() and the policies
-- below. A teacher sees the rows of their own classes only, in every table.
CREATE OR REPLACE FUNCTION additions.taught_machines()
RETURNS SETOF name
LANGUAGE sql STABLE SECURITY DEFINER
SET search_path = pg_catalog, pg_temp
AS $$
    SELECT m.role FROM additions.machines m JOIN additions.teachers t ON t.class = m.class
    WHERE t.role = session_user
$$;
REVOKE ALL ON ALL TABLES IN SCHEMA additions FROM PUBLIC, additions_machine, additions_teacher;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA additions FROM PUBLIC;
GRANT SELECT ON additions.classes, additions.machines, additions.teachers, additions.totals,
                additions.children, additions.recent TO additions_teacher;
GRANT SELECT, DELETE ON additions.answers TO additions_teacher;
GRANT EXECUTE ON FUNCTION additions.version TO additions_machine, additions_teacher;
GRANT EXECUTE ON FUNCTION additions.computer_state, additions.erased_players TO additions_machine;
GRANT EXECUTE ON FUNCTION additions.taught_machines TO additions_teacher;
GRANT EXECUTE ON FUNCTION
    additions.record_answer(uuid, text, integer, text, text, text, boolean, integer, text, boolean,
                            timestamptz, timestamptz),
    additions.record_answer(uuid, text, integer, text, text, text, boolean, integer, text, boolean,
                            timestamptz) TO additions_machine;

DO $$
DECLARE
    rule record;
BEGIN
    FOR rule IN SELECT * FROM (VALUES
        ('answers', 'SELECT', 'machine'), ('answers', 'DELETE', 'machine'),
        ('totals', 'SELECT', 'machine'), ('children', 'SELECT', 'machine'),
        ('recent', 'SELECT', 'machine'),
        ('machines', 'SELECT', 'role')) AS r (tab, command, col) LOOP
        EXECUTE format('ALTER TABLE additions.%I ENABLE ROW LEVEL SECURITY', rule.tab);
        EXECUTE format('DROP POLICY IF EXISTS teacher_%s ON additions.%I', lower(rule.command),
                       rule.tab);
        EXECUTE format('CREATE POLICY teacher_%s ON additions.%I FOR %s TO additions_teacher '
                       'USING (%I IN (SELECT additions.taught_machines()))', lower(rule.command),
                       rule.tab, rule.command, rule.col);
    END LOOP;
END
$$;
DROP POLICY IF EXISTS teacher_reads ON additions.answers;
DROP POLICY IF EXISTS teacher_reads ON additions.totals;
DROP POLICY IF EXISTS teacher_erases ON additions.answers;
ALTER TABLE additions.teachers ENABLE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS teacher_select ON additions.teachers;
CREATE POLICY teacher_select ON additions.teachers FOR SELECT TO additions_teacher
    USING (role = current_user);
ALTER TABLE additions.classes ENABLE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS teacher_select ON additions.classes;
CREATE POLICY teacher_select ON additions.classes FOR SELECT TO additions_teacher
    USING (name IN (SELECT class FROM additions.teachers));

-- Everything belongs to a role that cannot log in: the functions that run
-- as their owner run as it, never as a superuser.
DO $$
DECLARE
    item record;
BEGIN
    EXECUTE 'ALTER SCHEMA additions OWNER TO additions_owner';
    FOR item IN SELECT c.oid::regclass AS name, c.relkind FROM pg_class c
                WHERE c.relnamespace = 'additions'::regnamespace AND c.relkind IN ('r', 'v') LOOP
        EXECUTE format('ALTER %s %s OWNER TO additions_owner',
                       CASE item.relkind WHEN 'v' THEN 'VIEW' ELSE 'TABLE' END, item.name);
    END LOOP;
    FOR item IN SELECT p.oid::regprocedure AS name FROM pg_proc p
                WHERE p.pronamespace = 'additions'::regnamespace LOOP
        EXECUTE format('ALTER FUNCTION %s OWNER TO additions_owner', item.name);
    END LOOP;
END
$$;

COMMIT;
